// Plain, trivially copyable view of a TemporalGraph's arrays: what the walk
// samplers read, on the host loop and inside kernels alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/hd.hpp"

namespace strellis {

class TemporalGraph;

/// Non-owning copies of the graph's pointers and scalars; valid while the graph is unchanged.
struct DeviceGraphView {
    const int32_t* sources;
    const int32_t* targets;
    const int64_t* timestamps;
    size_t num_edges;
    const size_t* ts_group_offsets;
    const int64_t* ts_group_timestamps;
    size_t num_ts_groups;
    const size_t* out_node_offsets;
    const size_t* out_edge_indices;
    const size_t* out_ts_group_starts;
    const size_t* out_node_ts_group_offsets;
    size_t out_num_entries;
    const size_t* in_node_offsets;
    const size_t* in_edge_indices;
    const size_t* in_ts_group_starts;
    const size_t* in_node_ts_group_offsets;
    size_t in_num_entries;
    const int32_t* active_node_flags;
    int32_t max_node_id;
    const size_t* adj_offsets;
    const int32_t* adj_neighbors;
    size_t adj_nnz;
    double inv_p;
    double inv_q;
    bool enable_node2vec;
    bool is_directed;
    double timescale_bound;
};

/// The per-direction index arrays a walk reads.
struct IndexView {
    const size_t* node_offsets;
    const size_t* edge_indices;
    const size_t* ts_group_starts;
    const size_t* node_ts_group_offsets;
    size_t num_entries;
};

/// outbound for forward walks and every walk on an undirected graph; inbound otherwise.
STRELLIS_HD inline IndexView walk_index(const DeviceGraphView& g, bool forward) {
    if (forward || !g.is_directed) {
        return {g.out_node_offsets, g.out_edge_indices, g.out_ts_group_starts, g.out_node_ts_group_offsets,
                g.out_num_entries};
    }
    return {g.in_node_offsets, g.in_edge_indices, g.in_ts_group_starts, g.in_node_ts_group_offsets,
            g.in_num_entries};
}

/// Copies the graph's current pointers and scalars.
DeviceGraphView make_graph_view(const TemporalGraph& graph);

}  // namespace strellis
