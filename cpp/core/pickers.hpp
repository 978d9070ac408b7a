// The temporal pickers: one definition for host loops and kernels.
// Every choice is two-level: a timestamp group, then an edge inside it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/graph_view.hpp"
#include "core/hd.hpp"
#include "core/walk_config.hpp"

namespace strellis {

/// Truncation toward zero into int32; NaN and values below the range give the
/// lowest int, values above it the highest (a raw cast would be undefined).
STRELLIS_HD inline int32_t trunc_to_int32(double x) {
    if (!(x > -2147483649.0)) return INT32_MIN;
    if (x >= 2147483648.0) return INT32_MAX;
    return static_cast<int32_t>(x);
}

/// a - b as a double, rounded once, without int64 overflow.
STRELLIS_HD inline double time_diff(int64_t a, int64_t b) {
    return a >= b ? static_cast<double>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b))
                  : -static_cast<double>(static_cast<uint64_t>(b) - static_cast<uint64_t>(a));
}

/// Host uniform: one 64-bit engine output to [0, 1), never 1.0.
STRELLIS_HD inline double host_uniform(uint64_t x) {
    const double u = static_cast<double>(x) * 0x1p-64;
    return u >= 1.0 ? 0.9999999999999999 : u;
}

/// Device uniform: one 32-bit stream word to (0, 1], exactly (x + 1) / 2^32.
STRELLIS_HD inline double device_uniform(uint32_t x) { return static_cast<double>(x) * 0x1p-32 + 0x1p-32; }

/// Group index for Uniform, Linear and ExponentialIndex; -1 for n <= 0 or another picker.
STRELLIS_HD inline int32_t pick_group_index(PickerType picker, int32_t n, double r, bool prefer_first) {
    if (n <= 0) return -1;
    const double nd = static_cast<double>(n);
    int32_t k;
    switch (picker) {
        case Uniform:
            k = trunc_to_int32(nd * r);
            if (k >= n) k = n - 1;
            if (k < 0) k = 0;
            return k;
        case Linear: {
            const double total = ((nd + 1.0) * nd) * 0.5;
            const double u = r * total;
            const double x = sqrt(u * 8.0 + 1.0);
            k = trunc_to_int32(floor((x - 1.0) * 0.5));
            break;
        }
        case ExponentialIndex: {
            const double l = n <= 709 ? log((exp(nd) - 1.0) * r + 1.0) : log(r) + nd;
            k = trunc_to_int32((l - 1.0) + 1.0);
            break;
        }
        default:
            return -1;
    }
    if (k >= n) k = n - 1;
    if (k < 0) k = 0;
    return prefer_first ? n - 1 - k : k;
}

/// Scale of the exponential weights of one candidate set.
STRELLIS_HD inline double temporal_scale(int64_t first_ts, int64_t last_ts, double timescale_bound) {
    if (timescale_bound > 0.0 && last_ts > first_ts) return timescale_bound / time_diff(last_ts, first_ts);
    return 1.0;
}

/// exp(d * scale), d the distance of ts from the reference towards the walk's past.
STRELLIS_HD inline double temporal_weight(int64_t ts, int64_t reference, bool prefer_first, double scale) {
    const double d = prefer_first ? time_diff(reference, ts) : time_diff(ts, reference);
    return exp(scale > 0.0 ? d * scale : d);
}

/// Exponential-key reservoir choice with P(g) proportional to size_g * weight_g.
/// `groups` offers count(), start(g), end(g), timestamp(g) for g in [0, count()),
/// ascending in time. Returns the chosen group or -1 when no group has a positive weight.
template <class Groups>
STRELLIS_HD int32_t reservoir_pick(const Groups& groups, double r, bool prefer_first, int64_t reference,
                                   double scale) {
    const int32_t n = groups.count();
    if (n == 1) return 0;
    if (n <= 0) return -1;
    const double seed = r * 1e18;
    uint64_t s = seed > 0.0 && seed < 1.8e19 ? static_cast<uint64_t>(seed) : 0;
    int32_t best = -1;
    double best_key = -1e308;

    // Most groups of a long list cannot beat the best key so far. Distances are
    // monotone in time, so the largest temporal weight sits at an end of the
    // range; with it, u below exp(best_key * size * max_weight) proves
    // key <= best_key, and such a group is skipped without reading its
    // timestamp. The margins absorb rounding, so the choice is exactly that of
    // evaluating every key.
    const double max_weight = fmax(temporal_weight(groups.timestamp(0), reference, prefer_first, scale),
                                   temporal_weight(groups.timestamp(n - 1), reference, prefer_first, scale)) *
                              (1.0 + 1e-9);
    size_t cut_size = 0;  // size for which `cut` is valid; 0: none
    double cut = 0.0;

    for (int32_t g = 0; g < n; ++g) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        double u = static_cast<double>(s >> 11) * 0x1p-53;
        if (u <= 0.0) u = 1e-18;
        const size_t start = groups.start(g);
        const size_t end = groups.end(g);
        if (end <= start) continue;
        const size_t size = end - start;
        if (best >= 0) {
            if (size != cut_size) {
                cut = exp(best_key * (static_cast<double>(size) * max_weight) * (1.0 + 1e-15)) * (1.0 - 1e-9);
                cut_size = size;
            }
            if (u < cut) continue;
        }
        const double w = static_cast<double>(size) * temporal_weight(groups.timestamp(g), reference, prefer_first, scale);
        if (w > 0.0) {
            const double key = log(u) / w;
            if (key > best_key) {
                best = g;
                best_key = key;
                cut_size = 0;
            }
        }
    }
    return best;
}

/// Node2Vec structural factor of candidate x for a walk that came from prev.
STRELLIS_HD inline double node2vec_factor(const DeviceGraphView& g, int32_t prev, int32_t x) {
    if (x == prev) return g.inv_p;
    if (prev < 0 || prev > g.max_node_id || g.adj_offsets == nullptr || g.adj_neighbors == nullptr) return g.inv_q;
    size_t lo = g.adj_offsets[prev];
    size_t hi = g.adj_offsets[prev + 1];
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        const int32_t v = g.adj_neighbors[mid];
        if (v == x) return 1.0;
        if (v < x) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return g.inv_q;
}

/// The node reached over `edge` from `node`.
STRELLIS_HD inline int32_t far_endpoint(const DeviceGraphView& g, size_t edge, int32_t node, bool forward) {
    if (g.is_directed) return forward ? g.targets[edge] : g.sources[edge];
    const int32_t s = g.sources[edge];
    return s == node ? g.targets[edge] : s;
}

/// Whether a group's entry range [start, end) lies inside the index.
STRELLIS_HD inline bool group_in_bounds(size_t start, size_t end, size_t num_entries) {
    return start < (end < num_entries ? end : num_entries) && end <= num_entries;
}

/// Uniform position in [start, end).
STRELLIS_HD inline size_t pick_edge_in_group(size_t start, size_t end, double r) {
    size_t pos = start + static_cast<size_t>(static_cast<double>(end - start) * r);
    if (pos >= end) pos = end - 1;
    return pos;
}

/// Temporal Node2Vec choice over a node's candidate groups. A group weighs its
/// temporal weight times the sum of its edges' factors, so with p = q = 1 this
/// is the plain exponential temporal walk. Returns an entry position into
/// idx.edge_indices, or -1.
template <class Groups>
STRELLIS_HD int64_t node2vec_pick(const Groups& groups, double r_group, double r_edge, bool prefer_first,
                                  int64_t reference, double scale, int32_t node, int32_t prev,
                                  const DeviceGraphView& g, const IndexView& idx, bool forward) {
    const int32_t n = groups.count();
    auto group_weight = [&](int32_t k) -> double {
        const size_t start = groups.start(k);
        const size_t end = groups.end(k);
        if (end <= start || !group_in_bounds(start, end, idx.num_entries)) return 0.0;
        double sum = 0.0;
        for (size_t p = start; p < end; ++p) {
            sum += node2vec_factor(g, prev, far_endpoint(g, idx.edge_indices[p], node, forward));
        }
        return temporal_weight(groups.timestamp(k), reference, prefer_first, scale) * sum;
    };
    double total = 0.0;
    for (int32_t k = 0; k < n; ++k) total += group_weight(k);
    if (!(total > 0.0)) return -1;

    const double target = r_group * total;
    int32_t chosen = n - 1;
    double running = 0.0;
    for (int32_t k = 0; k < n; ++k) {
        running += group_weight(k);
        if (running >= target) {
            chosen = k;
            break;
        }
    }
    const size_t start = groups.start(chosen);
    const size_t end = groups.end(chosen);
    if (!group_in_bounds(start, end, idx.num_entries)) return -1;
    if (end - start == 1) return static_cast<int64_t>(start);
    double sum = 0.0;
    for (size_t p = start; p < end; ++p) {
        sum += node2vec_factor(g, prev, far_endpoint(g, idx.edge_indices[p], node, forward));
    }
    if (!(sum > 0.0)) return -1;
    const double target2 = r_edge * sum;
    running = 0.0;
    for (size_t p = start; p < end; ++p) {
        running += node2vec_factor(g, prev, far_endpoint(g, idx.edge_indices[p], node, forward));
        if (running >= target2) return static_cast<int64_t>(p);
    }
    return static_cast<int64_t>(end - 1);
}

}  // namespace strellis
