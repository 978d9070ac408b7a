#include "core/walk_config.hpp"

#include <stdexcept>

namespace strellis {

PickerType parse_picker_type(const std::string& name) {
    if (name == "Uniform") return Uniform;
    if (name == "Linear") return Linear;
    if (name == "ExponentialIndex") return ExponentialIndex;
    if (name == "ReservoirExponential") return ReservoirExponential;
    if (name == "TemporalNode2Vec") return TemporalNode2Vec;
    throw std::invalid_argument("Unknown picker type: '" + name +
                                "'. Valid types: Uniform, Linear, ExponentialIndex, ReservoirExponential, "
                                "TemporalNode2Vec");
}

WalkDirection parse_walk_direction(const std::string& name) {
    if (name == "Forward" || name == "Forward_In_Time") return Forward_In_Time;
    if (name == "Backward" || name == "Backward_In_Time") return Backward_In_Time;
    throw std::invalid_argument("Unknown walk direction: '" + name + "'. Valid directions: Forward, Backward");
}

KernelMode parse_kernel_mode(const std::string& name) {
    if (name == "NodeGrouped") return NodeGrouped;
    if (name == "FullWalk") return FullWalk;
    throw std::invalid_argument("Unknown kernel mode: '" + name + "'. Valid modes: NodeGrouped, FullWalk");
}

WalkConfig make_walk_config(int32_t max_walk_len, int32_t num_walks_per_node, const std::string& walk_bias,
                            const std::string& direction, const std::string& start_bias,
                            const std::string& kernel_mode, uint64_t seed, bool shuffle_walks,
                            int32_t padding_value) {
    WalkConfig c;
    c.max_walk_len = max_walk_len;
    c.num_walks_per_node = num_walks_per_node;
    c.num_walks_total = 0;
    c.walk_bias = parse_picker_type(walk_bias);
    c.direction = parse_walk_direction(direction);
    c.start_bias = parse_picker_type(start_bias);
    c.kernel_mode = parse_kernel_mode(kernel_mode);
    c.seed = seed;
    c.shuffle_walks = shuffle_walks;
    c.padding_value = padding_value;
    return c;
}

}  // namespace strellis
