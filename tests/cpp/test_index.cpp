// Temporal index layout: worked examples, plus a randomized comparison of
// the store and every index array against a brute-force description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/graph/graph.hpp"
#include "graph_test_util.hpp"
#include "core/graph_view.hpp"

namespace {

using strellis::NodeIndex;
using strellis::TemporalGraph;

using namespace strellis::test;

std::vector<Edge> stored(const TemporalGraph& g) {
    std::vector<Edge> out;
    for (size_t i = 0; i < g.num_edges; ++i) out.push_back({g.sources[i], g.targets[i], g.timestamps[i]});
    return out;
}

size_t id_range(const TemporalGraph& g) { return static_cast<size_t>(g.max_node_id + 1); }

using Sizes = std::vector<size_t>;

TEST(IndexLayout, DirectedThreeEdgeExample) {
    TemporalGraph g(true, false, -1, true, 1.0, 1.0, 1.0);
    add(g, {{0, 1, 5}, {0, 2, 5}, {0, 1, 7}});

    EXPECT_EQ(g.max_node_id, 2);
    EXPECT_EQ(g.num_active_nodes, 3u);
    EXPECT_EQ(vec(g.active_node_flags, 3), (std::vector<int32_t>{1, 1, 1}));

    EXPECT_EQ(g.num_ts_groups, 2u);
    EXPECT_EQ(vec(g.ts_group_offsets, 3), (Sizes{0, 2, 3}));
    EXPECT_EQ(vec(g.ts_group_timestamps, 2), (std::vector<int64_t>{5, 7}));

    const NodeIndex& out = g.outbound;
    EXPECT_EQ(out.num_entries, 3u);
    EXPECT_EQ(out.num_groups, 2u);
    EXPECT_EQ(vec(out.node_offsets, 4), (Sizes{0, 3, 3, 3}));
    EXPECT_EQ(vec(out.edge_indices, 3), (Sizes{0, 1, 2}));
    EXPECT_EQ(vec(out.ts_group_starts, 2), (Sizes{0, 2}));
    EXPECT_EQ(vec(out.node_ts_group_offsets, 4), (Sizes{0, 2, 2, 2}));

    const NodeIndex& in = g.inbound;
    EXPECT_EQ(in.num_entries, 3u);
    EXPECT_EQ(in.num_groups, 3u);
    EXPECT_EQ(vec(in.node_offsets, 4), (Sizes{0, 0, 2, 3}));
    EXPECT_EQ(vec(in.edge_indices, 3), (Sizes{0, 2, 1}));
    EXPECT_EQ(vec(in.ts_group_starts, 3), (Sizes{0, 1, 2}));
    EXPECT_EQ(vec(in.node_ts_group_offsets, 4), (Sizes{0, 0, 2, 3}));

    // Directed adjacency: out-neighbours only, the repeated 0->1 once.
    EXPECT_EQ(g.adj_nnz, 2u);
    EXPECT_EQ(vec(g.adj_offsets, 4), (Sizes{0, 2, 2, 2}));
    EXPECT_EQ(vec(g.adj_neighbors, 2), (std::vector<int32_t>{1, 2}));
}

TEST(IndexLayout, UndirectedSelfLoop) {
    TemporalGraph g(false, false, -1, true, 1.0, 1.0, 1.0);
    add(g, {{3, 3, 1}});

    EXPECT_EQ(g.max_node_id, 3);
    EXPECT_EQ(g.num_active_nodes, 1u);
    EXPECT_EQ(vec(g.active_node_flags, 4), (std::vector<int32_t>{0, 0, 0, 1}));
    EXPECT_EQ(g.num_ts_groups, 1u);
    EXPECT_EQ(vec(g.ts_group_offsets, 2), (Sizes{0, 1}));

    const NodeIndex& out = g.outbound;
    EXPECT_EQ(out.num_entries, 2u);
    EXPECT_EQ(vec(out.node_offsets, 5), (Sizes{0, 0, 0, 0, 2}));
    EXPECT_EQ(vec(out.edge_indices, 2), (Sizes{0, 0}));
    EXPECT_EQ(out.num_groups, 1u);
    EXPECT_EQ(vec(out.ts_group_starts, 1), (Sizes{0}));
    EXPECT_EQ(vec(out.node_ts_group_offsets, 5), (Sizes{0, 0, 0, 0, 1}));

    expect_no_index(g.inbound);

    EXPECT_EQ(g.adj_nnz, 1u);
    EXPECT_EQ(vec(g.adj_offsets, 5), (Sizes{0, 0, 0, 0, 1}));
    EXPECT_EQ(vec(g.adj_neighbors, 1), (std::vector<int32_t>{3}));
}

// Only ids 0 and 9 occur, all at one timestamp: the range is dense, the gap inactive and empty.
TEST(IndexLayout, IdsWithGapsAndOneTimestamp) {
    TemporalGraph g(false, false, -1, true, 1.0, 1.0, 1.0);
    add(g, {{0, 9, 4}, {9, 0, 4}, {0, 9, 4}});

    ASSERT_EQ(g.max_node_id, 9);
    EXPECT_EQ(g.num_active_nodes, 2u);
    std::vector<int32_t> flags(10, 0);
    flags[0] = flags[9] = 1;
    EXPECT_EQ(vec(g.active_node_flags, 10), flags);
    EXPECT_EQ(g.get_node_ids(), (std::vector<int32_t>{0, 9}));

    EXPECT_EQ(g.num_ts_groups, 1u);
    EXPECT_EQ(vec(g.ts_group_offsets, 2), (Sizes{0, 3}));

    EXPECT_EQ(vec(g.outbound.node_offsets, 11), (Sizes{0, 3, 3, 3, 3, 3, 3, 3, 3, 3, 6}));
    EXPECT_EQ(vec(g.outbound.edge_indices, 6), (Sizes{0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(vec(g.outbound.ts_group_starts, 2), (Sizes{0, 3}));
    EXPECT_EQ(vec(g.outbound.node_ts_group_offsets, 11), (Sizes{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2}));

    EXPECT_EQ(vec(g.adj_offsets, 11), (Sizes{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2}));
    EXPECT_EQ(vec(g.adj_neighbors, 2), (std::vector<int32_t>{9, 0}));
}

TEST(IndexLayout, AdjacencyIsSortedUniqueAndFollowsDirection) {
    const std::vector<Edge> edges = {{0, 2, 1}, {0, 1, 2}, {2, 0, 3}, {0, 2, 4}, {1, 1, 5}};
    struct Case {
        bool directed;
        Sizes offsets;
        std::vector<int32_t> neighbors;
    };
    const Case cases[] = {
        {true, {0, 2, 3, 4}, {1, 2, 1, 0}},
        {false, {0, 2, 4, 5}, {1, 2, 0, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directed ? "directed" : "undirected");
        TemporalGraph g(c.directed, false, -1, true, 1.0, 1.0, 1.0);
        add(g, edges);
        EXPECT_EQ(g.adj_nnz, c.neighbors.size());
        EXPECT_EQ(vec(g.adj_offsets, 4), c.offsets);
        EXPECT_EQ(vec(g.adj_neighbors, g.adj_nnz), c.neighbors);
    }

    TemporalGraph off(true, false, -1, false, 1.0, 1.0, 1.0);
    add(off, edges);
    EXPECT_EQ(off.adj_offsets, nullptr);
    EXPECT_EQ(off.adj_neighbors, nullptr);
    EXPECT_EQ(off.adj_nnz, 0u);
}

TEST(IndexLayout, GraphViewMirrorsMembers) {
    TemporalGraph g(true, false, -1, true, 2.0, 4.0, 3.5);
    add(g, {{0, 1, 5}, {0, 2, 5}, {0, 1, 7}});
    const strellis::DeviceGraphView v = strellis::make_graph_view(g);

    EXPECT_EQ(v.sources, g.sources);
    EXPECT_EQ(v.targets, g.targets);
    EXPECT_EQ(v.timestamps, g.timestamps);
    EXPECT_EQ(v.num_edges, g.num_edges);
    EXPECT_EQ(v.ts_group_offsets, g.ts_group_offsets);
    EXPECT_EQ(v.ts_group_timestamps, g.ts_group_timestamps);
    EXPECT_EQ(v.num_ts_groups, g.num_ts_groups);
    EXPECT_EQ(v.out_node_offsets, g.outbound.node_offsets);
    EXPECT_EQ(v.out_edge_indices, g.outbound.edge_indices);
    EXPECT_EQ(v.out_ts_group_starts, g.outbound.ts_group_starts);
    EXPECT_EQ(v.out_node_ts_group_offsets, g.outbound.node_ts_group_offsets);
    EXPECT_EQ(v.out_num_entries, g.outbound.num_entries);
    EXPECT_EQ(v.in_node_offsets, g.inbound.node_offsets);
    EXPECT_EQ(v.in_edge_indices, g.inbound.edge_indices);
    EXPECT_EQ(v.in_ts_group_starts, g.inbound.ts_group_starts);
    EXPECT_EQ(v.in_node_ts_group_offsets, g.inbound.node_ts_group_offsets);
    EXPECT_EQ(v.in_num_entries, g.inbound.num_entries);
    EXPECT_EQ(v.active_node_flags, g.active_node_flags);
    EXPECT_EQ(v.max_node_id, g.max_node_id);
    EXPECT_EQ(v.adj_offsets, g.adj_offsets);
    EXPECT_EQ(v.adj_neighbors, g.adj_neighbors);
    EXPECT_EQ(v.adj_nnz, g.adj_nnz);
    EXPECT_DOUBLE_EQ(v.inv_p, 0.5);
    EXPECT_DOUBLE_EQ(v.inv_q, 0.25);
    EXPECT_TRUE(v.enable_node2vec);
    EXPECT_TRUE(v.is_directed);
    EXPECT_DOUBLE_EQ(v.timescale_bound, 3.5);
}

// ---- Randomized comparison against brute force ----

void expect_direction_matches(const std::vector<Edge>& edges, size_t n, const NodeIndex& ix, bool directed,
                              bool key_by_target) {
    std::vector<size_t> offsets{0}, indices, starts, run_offsets{0};
    for (size_t v = 0; v < n; ++v) {
        std::vector<size_t> mine;
        for (size_t e = 0; e < edges.size(); ++e) {
            const int32_t id = static_cast<int32_t>(v);
            if (directed) {
                if ((key_by_target ? edges[e].dst : edges[e].src) == id) mine.push_back(e);
            } else {
                if (edges[e].src == id) mine.push_back(e);
                if (edges[e].dst == id) mine.push_back(e);
            }
        }
        for (size_t j = 0; j < mine.size(); ++j) {
            if (j == 0 || edges[mine[j]].ts != edges[mine[j - 1]].ts) starts.push_back(indices.size() + j);
        }
        indices.insert(indices.end(), mine.begin(), mine.end());
        offsets.push_back(indices.size());
        run_offsets.push_back(starts.size());
    }
    EXPECT_EQ(ix.num_entries, indices.size());
    EXPECT_EQ(ix.num_groups, starts.size());
    EXPECT_EQ(vec(ix.node_offsets, n + 1), offsets);
    EXPECT_EQ(vec(ix.edge_indices, ix.num_entries), indices);
    EXPECT_EQ(vec(ix.ts_group_starts, ix.num_groups), starts);
    EXPECT_EQ(vec(ix.node_ts_group_offsets, n + 1), run_offsets);
}

void expect_index_matches(const TemporalGraph& g) {
    const std::vector<Edge> edges = stored(g);
    if (edges.empty()) {
        expect_empty_arrays(g);
        return;
    }

    int32_t max_id = -1;
    for (const Edge& e : edges) max_id = std::max({max_id, e.src, e.dst});
    ASSERT_EQ(g.max_node_id, max_id);
    const size_t n = id_range(g);

    std::vector<int32_t> flags(n, 0);
    std::vector<int32_t> ids;
    for (const Edge& e : edges) flags[e.src] = flags[e.dst] = 1;
    for (size_t v = 0; v < n; ++v) {
        if (flags[v]) ids.push_back(static_cast<int32_t>(v));
    }
    EXPECT_EQ(vec(g.active_node_flags, n), flags);
    EXPECT_EQ(g.num_active_nodes, ids.size());
    EXPECT_EQ(g.get_node_ids(), ids);

    std::vector<size_t> group_offsets;
    std::vector<int64_t> group_ts;
    for (size_t i = 0; i < edges.size(); ++i) {
        if (i == 0 || edges[i].ts != edges[i - 1].ts) {
            group_offsets.push_back(i);
            group_ts.push_back(edges[i].ts);
        }
    }
    group_offsets.push_back(edges.size());
    EXPECT_EQ(g.num_ts_groups, group_ts.size());
    EXPECT_EQ(vec(g.ts_group_offsets, g.num_ts_groups + 1), group_offsets);
    EXPECT_EQ(vec(g.ts_group_timestamps, g.num_ts_groups), group_ts);

    {
        SCOPED_TRACE("outbound");
        expect_direction_matches(edges, n, g.outbound, g.is_directed, false);
    }
    if (g.is_directed) {
        SCOPED_TRACE("inbound");
        expect_direction_matches(edges, n, g.inbound, true, true);
    } else {
        expect_no_index(g.inbound);
    }

    if (!g.enable_node2vec) {
        EXPECT_EQ(g.adj_offsets, nullptr);
        EXPECT_EQ(g.adj_nnz, 0u);
        return;
    }
    std::vector<std::set<int32_t>> sets(n);
    for (const Edge& e : edges) {
        sets[e.src].insert(e.dst);
        if (!g.is_directed) sets[e.dst].insert(e.src);
    }
    std::vector<size_t> adj_offsets{0};
    std::vector<int32_t> adj;
    for (const auto& s : sets) {
        adj.insert(adj.end(), s.begin(), s.end());
        adj_offsets.push_back(adj.size());
    }
    EXPECT_EQ(g.adj_nnz, adj.size());
    EXPECT_EQ(vec(g.adj_offsets, n + 1), adj_offsets);
    EXPECT_EQ(vec(g.adj_neighbors, g.adj_nnz), adj);
}

// Store kept as "everything added, stable-sorted by time, minus the evicted prefix";
// the records must rebuild the new store from the old store and the batch.
TEST(IndexRandomized, StoreAndIndexMatchBruteForce) {
    const int64_t capacities[] = {-1, 0, 1, 3, 10, 40};
    for (uint32_t seed = 0; seed < 400; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&rng](int64_t lo, int64_t hi) {
            return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
        };
        const bool directed = pick(0, 1) == 1;
        const bool node2vec = pick(0, 1) == 1;
        const int64_t capacity = capacities[pick(0, 5)];
        const int32_t max_id = static_cast<int32_t>(pick(0, 12));
        const int64_t ts_lo = pick(-30, 5);
        const int64_t ts_hi = ts_lo + pick(0, 25);
        const int batches = static_cast<int>(pick(1, 6));
        const int clear_after = seed % 9 == 0 ? static_cast<int>(pick(0, batches - 1)) : -1;

        TemporalGraph g(directed, false, capacity, node2vec, 1.0, 1.0, 1.0);
        std::vector<Edge> model;
        bool has_ts = false;
        int64_t latest = -1;

        for (int b = 0; b < batches; ++b) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " batch " + std::to_string(b) +
                         (directed ? " directed" : " undirected") + " capacity " + std::to_string(capacity));
            std::vector<Edge> batch(static_cast<size_t>(pick(0, 4) == 0 ? 0 : pick(1, 12)));
            for (Edge& e : batch) {
                e = {static_cast<int32_t>(pick(0, max_id)), static_cast<int32_t>(pick(0, max_id)),
                     pick(ts_lo, ts_hi)};
            }

            const std::vector<Edge> before = stored(g);
            add(g, batch);
            const std::vector<Edge> after = stored(g);

            // Records: gather (old ++ batch) by last_sort_order, then drop the evicted prefix.
            std::vector<Edge> concat = before;
            concat.insert(concat.end(), batch.begin(), batch.end());
            const std::vector<size_t>& order = g.last_sort_order;
            if (batch.empty() || concat.size() < 2) {
                EXPECT_TRUE(order.empty());
            } else {
                ASSERT_EQ(order.size(), concat.size());
            }
            std::vector<Edge> rebuilt;
            for (size_t i = 0; i < concat.size(); ++i) {
                const size_t from = order.empty() ? i : order[i];
                ASSERT_LT(from, concat.size());
                rebuilt.push_back(concat[from]);
            }
            ASSERT_LE(g.last_evicted_count, rebuilt.size());
            rebuilt.erase(rebuilt.begin(), rebuilt.begin() + static_cast<std::ptrdiff_t>(g.last_evicted_count));
            EXPECT_EQ(rebuilt, after);

            size_t model_evicted = 0;
            if (!batch.empty()) {
                model.insert(model.end(), batch.begin(), batch.end());
                std::stable_sort(model.begin(), model.end(),
                                 [](const Edge& x, const Edge& y) { return x.ts < y.ts; });
                for (const Edge& e : batch) {
                    latest = has_ts ? std::max(latest, e.ts) : e.ts;
                    has_ts = true;
                }
                if (capacity > 0) {
                    while (model_evicted < model.size() && model[model_evicted].ts < latest - capacity) {
                        ++model_evicted;
                    }
                    model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(model_evicted));
                }
            }
            EXPECT_EQ(after, model);
            EXPECT_EQ(g.last_evicted_count, model_evicted);
            EXPECT_EQ(g.latest_timestamp, latest);
            EXPECT_EQ(g.has_timestamp, has_ts);
            expect_index_matches(g);
            if (HasFailure()) return;

            if (b == clear_after) {
                g.clear();
                model.clear();
                has_ts = false;
                latest = -1;
                expect_index_matches(g);
            }
        }
    }
}

}  // namespace
