// Time-sorted edge store of a sliding window, with the temporal index that
// the walk samplers read. Host or device storage, chosen once by use_gpu.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cuda/device_buffer.hpp"

namespace strellis {

/// Per-node edge lists grouped into runs of equal timestamp (non-owning).
struct NodeIndex {
    const size_t* node_offsets = nullptr;           // N + 1
    const size_t* edge_indices = nullptr;           // num_entries edge positions, grouped by node
    const size_t* ts_group_starts = nullptr;        // num_groups positions into edge_indices
    const size_t* node_ts_group_offsets = nullptr;  // N + 1
    size_t num_entries = 0;
    size_t num_groups = 0;
};

/// Throws std::runtime_error if any source or target id is negative.
void check_node_ids(const int32_t* src, const int32_t* dst, size_t count);

class TemporalGraph {
public:
    // Configuration
    bool is_directed;
    bool use_gpu;
    int64_t max_time_capacity;  // <= 0: no eviction
    bool enable_node2vec;
    double node2vec_p;
    double node2vec_q;
    double timescale_bound;

    // Active edge view (positions ascend in time, ties in arrival order)
    const int32_t* sources = nullptr;
    const int32_t* targets = nullptr;
    const int64_t* timestamps = nullptr;
    size_t num_edges = 0;

    // Index
    const size_t* ts_group_offsets = nullptr;
    const int64_t* ts_group_timestamps = nullptr;
    size_t num_ts_groups = 0;
    NodeIndex outbound;
    NodeIndex inbound;  // directed graphs only
    const int32_t* active_node_flags = nullptr;
    int32_t max_node_id = -1;
    size_t num_active_nodes = 0;
    const size_t* adj_offsets = nullptr;
    const int32_t* adj_neighbors = nullptr;
    size_t adj_nnz = 0;

    // Stream state
    int64_t latest_timestamp = -1;  // newest timestamp seen; meaningful once has_timestamp
    bool has_timestamp = false;     // whether any batch has been seen since construction/clear
    double inv_p;
    double inv_q;
    std::vector<size_t> last_sort_order;  // sorted position -> pre-sort position; empty: identity
    size_t last_evicted_count = 0;

    // Host owners
    HostBuffer<int32_t> h_sources;
    HostBuffer<int32_t> h_targets;
    HostBuffer<int64_t> h_timestamps;
    HostBuffer<size_t> h_ts_group_offsets;
    HostBuffer<int64_t> h_ts_group_timestamps;
    HostBuffer<size_t> h_out_node_offsets;
    HostBuffer<size_t> h_out_edge_indices;
    HostBuffer<size_t> h_out_ts_group_starts;
    HostBuffer<size_t> h_out_node_ts_group_offsets;
    HostBuffer<size_t> h_in_node_offsets;
    HostBuffer<size_t> h_in_edge_indices;
    HostBuffer<size_t> h_in_ts_group_starts;
    HostBuffer<size_t> h_in_node_ts_group_offsets;
    HostBuffer<int32_t> h_active_node_flags;
    HostBuffer<size_t> h_adj_offsets;
    HostBuffer<int32_t> h_adj_neighbors;

#ifdef STRELLIS_WITH_CUDA
    // Device owners
    DeviceBuffer<int32_t> d_sources;
    DeviceBuffer<int32_t> d_targets;
    DeviceBuffer<int64_t> d_timestamps;
    DeviceBuffer<size_t> d_ts_group_offsets;
    DeviceBuffer<int64_t> d_ts_group_timestamps;
    DeviceBuffer<size_t> d_out_node_offsets;
    DeviceBuffer<size_t> d_out_edge_indices;
    DeviceBuffer<size_t> d_out_ts_group_starts;
    DeviceBuffer<size_t> d_out_node_ts_group_offsets;
    DeviceBuffer<size_t> d_in_node_offsets;
    DeviceBuffer<size_t> d_in_edge_indices;
    DeviceBuffer<size_t> d_in_ts_group_starts;
    DeviceBuffer<size_t> d_in_node_ts_group_offsets;
    DeviceBuffer<int32_t> d_active_node_flags;
    DeviceBuffer<size_t> d_adj_offsets;
    DeviceBuffer<int32_t> d_adj_neighbors;
#endif

    /// Allocates nothing and touches no device.
    TemporalGraph(bool is_directed, bool use_gpu, int64_t max_time_capacity, bool enable_node2vec,
                  double node2vec_p, double node2vec_q, double timescale_bound);
    ~TemporalGraph();
    TemporalGraph(const TemporalGraph&) = delete;
    TemporalGraph& operator=(const TemporalGraph&) = delete;

    /// Appends a batch, sorts stably by time, evicts edges older than the window
    /// and rebuilds the index. Rejects negative ids before any change. On any
    /// failure the store, index and window are left as they were.
    void add_edges(const int32_t* src, const int32_t* dst, const int64_t* ts, size_t count);

    /// Active node ids, ascending.
    std::vector<int32_t> get_node_ids() const;

    void free_index();
    void free_all();
    void clear();

    // Host steps of add_edges
    void sort_and_merge_edges_cpu(size_t old_count);
    void evict_old_edges_cpu();

    // Host index build
    void rebuild_index_cpu();
    void populate_active_nodes_cpu();
    void build_ts_groups_cpu();
    void build_node_index_cpu();
    void build_adjacency_csr_cpu();

private:
    struct HostSnapshot;
    HostSnapshot take_host_snapshot() noexcept;
    void restore_host_snapshot(HostSnapshot& s) noexcept;
    void install_host_edges(HostBuffer<int32_t>&& src, HostBuffer<int32_t>&& dst, HostBuffer<int64_t>&& ts,
                            size_t n) noexcept;
    void add_edges_host(const int32_t* src, const int32_t* dst, const int64_t* ts, size_t count);
};

}  // namespace strellis
