// The body of one walk, generic over its random source, so the host loop and
// the per-thread kernel run the same logic.
#pragma once

#include <cstdint>

#include "core/graph_view.hpp"
#include "core/hd.hpp"
#include "core/hop.hpp"
#include "core/walk_config.hpp"

namespace strellis {

struct WalkParams {
    int32_t max_walk_len;
    bool forward;
    PickerType walk_bias;
    PickerType start_bias;  // TemporalNode2Vec already replaced
};

/// The start-edge picker: TemporalNode2Vec has no previous node to use.
STRELLIS_HD inline PickerType start_picker(PickerType start_bias) {
    return start_bias == TemporalNode2Vec ? ReservoirExponential : start_bias;
}

template <class T>
STRELLIS_HD inline void reverse_range(T* p, int64_t n) {
    for (int64_t i = 0, j = n - 1; i < j; ++i, --j) {
        const T t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
}

/// Generates one walk into rows that already hold their padding; returns its
/// length (0 when it cannot start). `rng.next()` yields one uniform double.
/// Draws: group, edge and orientation draw at the start (always), then a group
/// and an edge draw per hop.
template <class Rng>
STRELLIS_HD int64_t generate_walk(const DeviceGraphView& g, const IndexView& idx, int32_t start_entry,
                                  const WalkParams& p, Rng& rng, int32_t* nodes, int64_t* timestamps,
                                  int64_t* edge_ids) {
    const int32_t len_max = p.max_walk_len;
    if (len_max < 1) return 0;
    const double r_a = rng.next();
    const double r_b = rng.next();
    const double r_c = rng.next();
    const StartEdge s = choose_start(g, idx, start_entry, p.forward, p.start_bias, r_a, r_b, r_c);
    if (s.next_node == -1 || len_max < 2) return 0;

    nodes[0] = s.start_node;
    nodes[1] = s.next_node;
    timestamps[1] = s.timestamp;
    edge_ids[0] = s.edge_id;
    int64_t len = 2;
    for (int32_t i = 2; i < len_max; ++i) {
        const double r_group = rng.next();
        const double r_edge = rng.next();
        const HopResult h =
            do_hop(g, idx, nodes[i - 1], timestamps[i - 1], nodes[i - 2], p.forward, p.walk_bias, r_group, r_edge);
        if (h.node == -1) break;
        nodes[i] = h.node;
        timestamps[i] = h.timestamp;
        edge_ids[i - 1] = h.edge_id;
        len = i + 1;
    }
    if (!p.forward) {  // stored so that every row reads forward in time
        reverse_range(nodes, len);
        reverse_range(timestamps, len);
        reverse_range(edge_ids, len - 1);
    }
    return len;
}

}  // namespace strellis
