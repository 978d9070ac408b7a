// One time-respecting step of a walk, and the choice of a walk's start edge.
// Shared by the host walk loop and the GPU kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/graph_view.hpp"
#include "core/hd.hpp"
#include "core/pickers.hpp"
#include "core/walk_config.hpp"

namespace strellis {

/// Next node, edge timestamp and edge position; all -1 for a dead end.
struct HopResult {
    int32_t node;
    int64_t timestamp;
    int64_t edge_id;
};

STRELLIS_HD inline HopResult dead_end() { return {-1, -1, -1}; }

/// Candidate groups first .. first + count() - 1 of one node's group list.
struct NodeGroups {
    const size_t* ts_group_starts;
    const size_t* edge_indices;
    const int64_t* timestamps;
    size_t first;       // absolute number of candidate group 0
    size_t node_last;   // absolute number of the node's last group
    size_t node_end;    // end of the node's entries
    int32_t n;

    STRELLIS_HD int32_t count() const { return n; }
    STRELLIS_HD size_t start(int32_t g) const { return ts_group_starts[first + g]; }
    STRELLIS_HD size_t end(int32_t g) const {
        const size_t abs = first + g;
        return abs < node_last ? ts_group_starts[abs + 1] : node_end;
    }
    STRELLIS_HD int64_t timestamp(int32_t g) const { return timestamps[edge_indices[start(g)]]; }
};

/// Candidate groups first .. first + count() - 1 of the whole edge store.
struct GlobalGroups {
    const size_t* offsets;
    const int64_t* timestamps;
    size_t num_groups;
    size_t num_edges;
    int32_t n;

    STRELLIS_HD int32_t count() const { return n; }
    STRELLIS_HD size_t start(int32_t g) const { return offsets[g]; }
    STRELLIS_HD size_t end(int32_t g) const {
        return static_cast<size_t>(g) + 1 < num_groups ? offsets[g + 1] : num_edges;
    }
    STRELLIS_HD int64_t timestamp(int32_t g) const { return timestamps[offsets[g]]; }
};

STRELLIS_HD inline int32_t clamp_count(size_t n) {
    return n > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n);
}

/// Shared body of a hop and of a start from a node. Only a start takes every
/// group of the node; a hop always filters strictly by time, whatever the
/// timestamp's value.
STRELLIS_HD inline HopResult hop_impl(const DeviceGraphView& g, const IndexView& idx, int32_t node,
                                      int64_t timestamp, bool time_filter, int32_t prev_node, bool forward,
                                      PickerType picker, double r_group, double r_edge) {
    if (node < 0 || node > g.max_node_id || g.active_node_flags == nullptr || g.active_node_flags[node] == 0) {
        return dead_end();
    }
    const size_t gs = idx.node_ts_group_offsets[node];
    const size_t ge = idx.node_ts_group_offsets[node + 1];
    if (gs >= ge) return dead_end();
    const size_t node_end = idx.node_offsets[node + 1];
    auto group_ts = [&](size_t grp) { return g.timestamps[idx.edge_indices[idx.ts_group_starts[grp]]]; };

    size_t c0 = gs;
    size_t c1 = ge;
    if (time_filter) {
        size_t lo = gs;
        size_t hi = ge;
        while (lo < hi) {  // forward: first group later than timestamp; backward: first not earlier
            const size_t mid = lo + (hi - lo) / 2;
            const bool before = forward ? group_ts(mid) <= timestamp : group_ts(mid) < timestamp;
            if (before) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        if (forward) {
            c0 = lo;
        } else {
            c1 = lo;
        }
    }
    if (c0 >= c1) return dead_end();

    if (picker == TemporalNode2Vec && !g.enable_node2vec) picker = ReservoirExponential;
    const NodeGroups groups{idx.ts_group_starts, idx.edge_indices, g.timestamps, c0, ge - 1, node_end,
                            clamp_count(c1 - c0)};

    int64_t pos = -1;
    if (picker == Uniform || picker == Linear || picker == ExponentialIndex) {
        const int32_t k = pick_group_index(picker, groups.n, r_group, forward);
        if (k < 0) return dead_end();
        const size_t start = groups.start(k);
        const size_t end = groups.end(k);
        if (!group_in_bounds(start, end, idx.num_entries)) return dead_end();
        pos = static_cast<int64_t>(pick_edge_in_group(start, end, r_edge));
    } else if (picker == ReservoirExponential || picker == TemporalNode2Vec) {
        const int64_t first_ts = group_ts(gs);
        const int64_t last_ts = group_ts(ge - 1);
        const int64_t reference = forward ? last_ts : first_ts;
        const double scale = temporal_scale(first_ts, last_ts, g.timescale_bound);
        if (picker == TemporalNode2Vec && prev_node != -1) {
            pos = node2vec_pick(groups, r_group, r_edge, forward, reference, scale, node, prev_node, g, idx,
                                forward);
            if (pos < 0) return dead_end();
        } else {
            const int32_t k = reservoir_pick(groups, r_group, forward, reference, scale);
            if (k < 0) return dead_end();
            const size_t start = groups.start(k);
            const size_t end = groups.end(k);
            if (!group_in_bounds(start, end, idx.num_entries)) return dead_end();
            pos = static_cast<int64_t>(pick_edge_in_group(start, end, r_edge));
        }
    } else {
        return dead_end();
    }
    const size_t edge = idx.edge_indices[pos];
    return {far_endpoint(g, edge, node, forward), g.timestamps[edge], static_cast<int64_t>(edge)};
}

/// A hop from `node`, reached at `timestamp`: only edges strictly later
/// (forward) or strictly earlier (backward) qualify. prev_node -1: none.
STRELLIS_HD inline HopResult do_hop(const DeviceGraphView& g, const IndexView& idx, int32_t node,
                                    int64_t timestamp, int32_t prev_node, bool forward, PickerType picker,
                                    double r_group, double r_edge) {
    return hop_impl(g, idx, node, timestamp, true, prev_node, forward, picker, r_group, r_edge);
}

/// A walk's start edge from `node`: every group of the node is a candidate.
STRELLIS_HD inline HopResult pick_start_from_node(const DeviceGraphView& g, const IndexView& idx, int32_t node,
                                                  bool forward, PickerType picker, double r_group,
                                                  double r_edge) {
    return hop_impl(g, idx, node, 0, false, -1, forward, picker, r_group, r_edge);
}

/// A start edge and the first two nodes of a walk.
struct StartEdge {
    int32_t start_node;
    int32_t next_node;
    int64_t timestamp;
    int64_t edge_id;
};

/// The start of a walk for one start entry: a node id, or -1 for an edge
/// sampled from the whole graph. next_node -1 when the walk cannot start.
/// `picker` must already have TemporalNode2Vec replaced.
STRELLIS_HD inline StartEdge choose_start(const DeviceGraphView& g, const IndexView& idx, int32_t entry,
                                          bool forward, PickerType picker, double r_a, double r_b, double r_c) {
    const StartEdge none{entry, -1, -1, -1};
    if (entry >= 0) {
        const HopResult h = pick_start_from_node(g, idx, entry, forward, picker, r_a, r_b);
        return {entry, h.node, h.timestamp, h.edge_id};
    }
    if (entry != -1 || g.num_ts_groups == 0 || g.num_edges == 0) return none;

    const GlobalGroups groups{g.ts_group_offsets, g.timestamps, g.num_ts_groups, g.num_edges,
                              clamp_count(g.num_ts_groups)};
    int32_t k;
    if (picker == Uniform || picker == Linear || picker == ExponentialIndex) {
        k = pick_group_index(picker, groups.n, r_a, forward);
    } else if (picker == ReservoirExponential) {
        const int64_t first_ts = g.timestamps[0];
        const int64_t last_ts = g.timestamps[g.num_edges - 1];
        k = reservoir_pick(groups, r_a, forward, forward ? last_ts : first_ts,
                           temporal_scale(first_ts, last_ts, g.timescale_bound));
    } else {
        return none;
    }
    if (k < 0) return none;
    const size_t start = groups.start(k);
    const size_t end = groups.end(k);
    if (end <= start || end > g.num_edges) return none;
    const size_t edge = pick_edge_in_group(start, end, r_b);
    const int32_t u = g.sources[edge];
    const int32_t v = g.targets[edge];
    const bool u_first = g.is_directed ? forward : !(r_c < 0.5);
    return {u_first ? u : v, u_first ? v : u, g.timestamps[edge], static_cast<int64_t>(edge)};
}

}  // namespace strellis
