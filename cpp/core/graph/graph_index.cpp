// Host build of the temporal index. Every pass is linear in edges plus the id
// range, except the per-node neighbour sort of the Node2Vec adjacency.
#include <algorithm>
#include <cstring>

#include "core/graph/graph.hpp"

namespace strellis {

namespace {

// Counting sort of edge positions by node (source, target, or both endpoints
// when undirected), then the runs of equal timestamp inside every node's list.
void build_direction_cpu(const int32_t* sources, const int32_t* targets, const int64_t* timestamps,
                         size_t num_edges, int32_t max_node_id, bool is_directed, bool key_by_target,
                         HostBuffer<size_t>& node_offsets_buf, HostBuffer<size_t>& edge_indices_buf,
                         HostBuffer<size_t>& ts_group_starts_buf, HostBuffer<size_t>& node_ts_group_offsets_buf,
                         const size_t*& node_offsets, const size_t*& edge_indices, const size_t*& ts_group_starts,
                         const size_t*& node_ts_group_offsets, size_t& num_entries, size_t& num_groups) {
    const size_t n = static_cast<size_t>(max_node_id) + 1;
    const size_t entries = is_directed ? num_edges : 2 * num_edges;
    const int32_t* keys = key_by_target ? targets : sources;

    node_offsets_buf.allocate_zeroed(n + 1);
    node_offsets = node_offsets_buf.data();
    size_t* offsets = node_offsets_buf.data();
    if (is_directed) {
        for (size_t e = 0; e < num_edges; ++e) ++offsets[static_cast<size_t>(keys[e]) + 1];
    } else {
        for (size_t e = 0; e < num_edges; ++e) {
            ++offsets[static_cast<size_t>(sources[e]) + 1];
            ++offsets[static_cast<size_t>(targets[e]) + 1];
        }
    }
    for (size_t v = 1; v <= n; ++v) offsets[v] += offsets[v - 1];

    edge_indices_buf.allocate(entries);
    edge_indices = edge_indices_buf.data();
    num_entries = entries;
    size_t* indices = edge_indices_buf.data();
    {
        HostBuffer<size_t> cursor;
        cursor.allocate(n);
        size_t* cur = cursor.data();
        std::memcpy(cur, offsets, n * sizeof(size_t));
        // Position order in, position order out: each node's list comes out ascending.
        if (is_directed) {
            for (size_t e = 0; e < num_edges; ++e) indices[cur[keys[e]]++] = e;
        } else {
            for (size_t e = 0; e < num_edges; ++e) {
                indices[cur[sources[e]]++] = e;
                indices[cur[targets[e]]++] = e;
            }
        }
    }

    node_ts_group_offsets_buf.allocate_zeroed(n + 1);
    node_ts_group_offsets = node_ts_group_offsets_buf.data();
    size_t* run_offsets = node_ts_group_offsets_buf.data();
    for (size_t v = 0; v < n; ++v) {
        const size_t begin = offsets[v];
        const size_t end = offsets[v + 1];
        if (begin == end) continue;
        size_t runs = 1;
        for (size_t j = begin + 1; j < end; ++j) runs += timestamps[indices[j]] != timestamps[indices[j - 1]];
        run_offsets[v + 1] = runs;
    }
    for (size_t v = 1; v <= n; ++v) run_offsets[v] += run_offsets[v - 1];
    const size_t groups = run_offsets[n];

    ts_group_starts_buf.allocate(groups);
    ts_group_starts = ts_group_starts_buf.data();
    num_groups = groups;
    size_t* starts = ts_group_starts_buf.data();
    for (size_t v = 0; v < n; ++v) {
        const size_t begin = offsets[v];
        const size_t end = offsets[v + 1];
        if (begin == end) continue;
        size_t slot = run_offsets[v];
        starts[slot++] = begin;
        for (size_t j = begin + 1; j < end; ++j) {
            if (timestamps[indices[j]] != timestamps[indices[j - 1]]) starts[slot++] = j;
        }
    }
}

}  // namespace

void TemporalGraph::rebuild_index_cpu() {
    free_index();
    if (num_edges == 0) return;
    populate_active_nodes_cpu();
    build_ts_groups_cpu();
    build_node_index_cpu();
    if (enable_node2vec) build_adjacency_csr_cpu();
}

void TemporalGraph::populate_active_nodes_cpu() {
    if (num_edges == 0) {
        max_node_id = -1;
        num_active_nodes = 0;
        return;
    }
    int32_t max_id = -1;
    for (size_t e = 0; e < num_edges; ++e) max_id = std::max({max_id, sources[e], targets[e]});
    max_node_id = max_id;
    if (max_id < 0) {
        num_active_nodes = 0;
        return;
    }

    const size_t n = static_cast<size_t>(max_id) + 1;
    h_active_node_flags.allocate_zeroed(n);
    active_node_flags = h_active_node_flags.data();
    int32_t* flags = h_active_node_flags.data();
    for (size_t e = 0; e < num_edges; ++e) {
        flags[sources[e]] = 1;
        flags[targets[e]] = 1;
    }
    size_t active = 0;
    for (size_t v = 0; v < n; ++v) active += static_cast<size_t>(flags[v]);
    num_active_nodes = active;
}

void TemporalGraph::build_ts_groups_cpu() {
    if (num_edges == 0) {
        num_ts_groups = 0;
        return;
    }
    size_t groups = 1;
    for (size_t i = 1; i < num_edges; ++i) groups += timestamps[i] != timestamps[i - 1];

    h_ts_group_offsets.allocate(groups + 1);
    h_ts_group_timestamps.allocate(groups);
    ts_group_offsets = h_ts_group_offsets.data();
    ts_group_timestamps = h_ts_group_timestamps.data();
    num_ts_groups = groups;

    size_t* offsets = h_ts_group_offsets.data();
    int64_t* group_ts = h_ts_group_timestamps.data();
    offsets[0] = 0;
    group_ts[0] = timestamps[0];
    size_t g = 0;
    for (size_t i = 1; i < num_edges; ++i) {
        if (timestamps[i] != timestamps[i - 1]) {
            ++g;
            offsets[g] = i;
            group_ts[g] = timestamps[i];
        }
    }
    offsets[groups] = num_edges;
}

void TemporalGraph::build_node_index_cpu() {
    if (max_node_id < 0) return;
    build_direction_cpu(sources, targets, timestamps, num_edges, max_node_id, is_directed, false,
                        h_out_node_offsets, h_out_edge_indices, h_out_ts_group_starts, h_out_node_ts_group_offsets,
                        outbound.node_offsets, outbound.edge_indices, outbound.ts_group_starts,
                        outbound.node_ts_group_offsets, outbound.num_entries, outbound.num_groups);
    if (is_directed) {
        build_direction_cpu(sources, targets, timestamps, num_edges, max_node_id, true, true, h_in_node_offsets,
                            h_in_edge_indices, h_in_ts_group_starts, h_in_node_ts_group_offsets,
                            inbound.node_offsets, inbound.edge_indices, inbound.ts_group_starts,
                            inbound.node_ts_group_offsets, inbound.num_entries, inbound.num_groups);
    }
}

void TemporalGraph::build_adjacency_csr_cpu() {
    if (max_node_id < 0) return;
    const size_t n = static_cast<size_t>(max_node_id) + 1;

    // Counting sort of (owner, neighbour) pairs by owner into one shared array,
    // then each owner's range is sorted and deduplicated in place.
    HostBuffer<size_t> bounds;
    bounds.allocate_zeroed(n + 1);
    size_t* b = bounds.data();
    for (size_t e = 0; e < num_edges; ++e) {
        ++b[static_cast<size_t>(sources[e]) + 1];
        if (!is_directed) ++b[static_cast<size_t>(targets[e]) + 1];
    }
    for (size_t v = 1; v <= n; ++v) b[v] += b[v - 1];

    HostBuffer<int32_t> pairs;
    pairs.allocate(b[n]);
    int32_t* nb = pairs.data();
    {
        HostBuffer<size_t> cursor;
        cursor.allocate(n);
        size_t* cur = cursor.data();
        std::memcpy(cur, b, n * sizeof(size_t));
        for (size_t e = 0; e < num_edges; ++e) {
            nb[cur[sources[e]]++] = targets[e];
            if (!is_directed) nb[cur[targets[e]]++] = sources[e];
        }
    }

    h_adj_offsets.allocate(n + 1);
    size_t* offsets = h_adj_offsets.data();
    size_t written = 0;
    for (size_t v = 0; v < n; ++v) {
        int32_t* first = nb + b[v];
        int32_t* last = nb + b[v + 1];
        std::sort(first, last);
        last = std::unique(first, last);
        // Compact towards the front; the write position never passes the read position.
        offsets[v] = written;
        const size_t k = static_cast<size_t>(last - first);
        if (k > 0 && nb + written != first) std::memmove(nb + written, first, k * sizeof(int32_t));
        written += k;
    }
    offsets[n] = written;

    h_adj_neighbors.allocate(written);
    if (written > 0) std::memcpy(h_adj_neighbors.data(), nb, written * sizeof(int32_t));
    adj_offsets = h_adj_offsets.data();
    adj_neighbors = h_adj_neighbors.data();
    adj_nnz = written;
}

}  // namespace strellis
