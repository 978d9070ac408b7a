// Walk request record, its enumerations, and the raw walk buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace strellis {

/// Temporal bias. The numeric values are part of the contract.
enum PickerType : int32_t {
    Uniform = 0,
    Linear = 1,
    ExponentialIndex = 2,
    ReservoirExponential = 3,
    TemporalNode2Vec = 4,
};

enum WalkDirection : int32_t {
    Forward_In_Time = 0,
    Backward_In_Time = 1,
};

/// GPU strategy; ignored on the host. FullWalk for 1, NodeGrouped otherwise.
enum KernelMode : int32_t {
    NodeGrouped = 0,
    FullWalk = 1,
};

struct WalkConfig {
    int32_t max_walk_len = 10;
    int32_t num_walks_per_node = 1;
    int32_t num_walks_total = 0;
    WalkDirection direction = Forward_In_Time;
    PickerType walk_bias = Uniform;
    PickerType start_bias = Uniform;
    KernelMode kernel_mode = NodeGrouped;
    uint64_t seed = 0;  // 0: draw a fresh seed per request
    bool shuffle_walks = true;
    int32_t padding_value = -1;
};

/// Raw walk buffers returned by every walk generator; rows are walk-major and
/// every row reads forward in time.
struct InternalWalkResult {
    std::vector<int32_t> nodes;       // num_walks x max_walk_len
    std::vector<int64_t> timestamps;  // num_walks x max_walk_len
    std::vector<int64_t> edge_ids;    // num_walks x (max_walk_len - 1), -1 where no edge
    std::vector<int64_t> walk_lens;   // num_walks
    std::size_t num_walks = 0;
    std::size_t max_walk_len = 0;
};

/// Throws std::invalid_argument for names other than the five picker names.
PickerType parse_picker_type(const std::string& name);
/// "Forward"/"Forward_In_Time" or "Backward"/"Backward_In_Time"; else std::invalid_argument.
WalkDirection parse_walk_direction(const std::string& name);
/// "NodeGrouped" or "FullWalk"; else std::invalid_argument.
KernelMode parse_kernel_mode(const std::string& name);

/// Parses walk_bias, direction, start_bias, kernel_mode in that order; num_walks_total is 0.
WalkConfig make_walk_config(int32_t max_walk_len, int32_t num_walks_per_node, const std::string& walk_bias,
                            const std::string& direction, const std::string& start_bias,
                            const std::string& kernel_mode, uint64_t seed, bool shuffle_walks,
                            int32_t padding_value);

}  // namespace strellis
