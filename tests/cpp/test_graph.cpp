// Edge store: ordering, sort/eviction records, the window, input rejection
// and the all-or-nothing behaviour of add_edges under allocation failure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/graph/graph.hpp"
#include "graph_test_util.hpp"

namespace {

using strellis::TemporalGraph;

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

using namespace strellis::test;

std::vector<int64_t> stored_ts(const TemporalGraph& g) { return vec(g.timestamps, g.num_edges); }

// Every observable piece of a graph, by value.
struct State {
    std::vector<int32_t> sources, targets;
    std::vector<int64_t> timestamps;
    std::vector<size_t> group_offsets;
    std::vector<int64_t> group_timestamps;
    std::vector<size_t> out[4], in[4];
    size_t out_counts[2], in_counts[2];
    std::vector<int32_t> flags;
    int32_t max_node_id;
    size_t num_active_nodes;
    std::vector<size_t> adj_offsets;
    std::vector<int32_t> adj_neighbors;
    size_t adj_nnz;
    int64_t latest_timestamp;
    bool has_timestamp;
    std::vector<size_t> last_sort_order;
    size_t last_evicted_count;
};

void capture_direction(const strellis::NodeIndex& ix, size_t n, std::vector<size_t>* arrays, size_t* counts) {
    arrays[0] = vec(ix.node_offsets, n + 1);
    arrays[1] = vec(ix.edge_indices, ix.num_entries);
    arrays[2] = vec(ix.ts_group_starts, ix.num_groups);
    arrays[3] = vec(ix.node_ts_group_offsets, n + 1);
    counts[0] = ix.num_entries;
    counts[1] = ix.num_groups;
}

State capture(const TemporalGraph& g) {
    State s;
    const size_t n = static_cast<size_t>(g.max_node_id + 1);
    s.sources = vec(g.sources, g.num_edges);
    s.targets = vec(g.targets, g.num_edges);
    s.timestamps = vec(g.timestamps, g.num_edges);
    s.group_offsets = vec(g.ts_group_offsets, g.num_ts_groups + 1);
    s.group_timestamps = vec(g.ts_group_timestamps, g.num_ts_groups);
    capture_direction(g.outbound, n, s.out, s.out_counts);
    capture_direction(g.inbound, n, s.in, s.in_counts);
    s.flags = vec(g.active_node_flags, n);
    s.max_node_id = g.max_node_id;
    s.num_active_nodes = g.num_active_nodes;
    s.adj_offsets = vec(g.adj_offsets, n + 1);
    s.adj_neighbors = vec(g.adj_neighbors, g.adj_nnz);
    s.adj_nnz = g.adj_nnz;
    s.latest_timestamp = g.latest_timestamp;
    s.has_timestamp = g.has_timestamp;
    s.last_sort_order = g.last_sort_order;
    s.last_evicted_count = g.last_evicted_count;
    return s;
}

// Store, index and window marker; the records are compared only when asked.
void expect_same(const State& a, const State& b, bool with_records) {
    EXPECT_EQ(a.sources, b.sources);
    EXPECT_EQ(a.targets, b.targets);
    EXPECT_EQ(a.timestamps, b.timestamps);
    EXPECT_EQ(a.group_offsets, b.group_offsets);
    EXPECT_EQ(a.group_timestamps, b.group_timestamps);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(a.out[i], b.out[i]) << "outbound array " << i;
        EXPECT_EQ(a.in[i], b.in[i]) << "inbound array " << i;
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(a.out_counts[i], b.out_counts[i]);
        EXPECT_EQ(a.in_counts[i], b.in_counts[i]);
    }
    EXPECT_EQ(a.flags, b.flags);
    EXPECT_EQ(a.max_node_id, b.max_node_id);
    EXPECT_EQ(a.num_active_nodes, b.num_active_nodes);
    EXPECT_EQ(a.adj_offsets, b.adj_offsets);
    EXPECT_EQ(a.adj_neighbors, b.adj_neighbors);
    EXPECT_EQ(a.adj_nnz, b.adj_nnz);
    EXPECT_EQ(a.latest_timestamp, b.latest_timestamp);
    EXPECT_EQ(a.has_timestamp, b.has_timestamp);
    if (with_records) {
        EXPECT_EQ(a.last_sort_order, b.last_sort_order);
        EXPECT_EQ(a.last_evicted_count, b.last_evicted_count);
    }
}

// A directed graph whose last add_edges both sorted and evicted, so every
// record is non-trivial.
void populate(TemporalGraph& g) {
    add(g, {{0, 1, 10}, {1, 2, 11}, {2, 3, 12}, {3, 0, 13}});
    add(g, {{4, 1, 14}, {1, 4, 12}, {2, 2, 16}});
}

TEST(GraphStore, ConstructionHoldsNothing) {
    const double nan = std::nan("");
    struct Case {
        double p, q, inv_p, inv_q;
    } cases[] = {{2.0, 0.5, 0.5, 2.0}, {0.0, -1.0, 1.0, 1.0}, {nan, 4.0, 1.0, 0.25}};
    for (const Case& c : cases) {
        TemporalGraph g(true, false, 10, true, c.p, c.q, 1.0);
        EXPECT_DOUBLE_EQ(g.inv_p, c.inv_p);
        EXPECT_DOUBLE_EQ(g.inv_q, c.inv_q);
        EXPECT_EQ(g.latest_timestamp, -1);
        EXPECT_FALSE(g.has_timestamp);
        expect_empty_arrays(g);
    }
}

TEST(GraphStore, EqualTimestampsKeepArrivalOrder) {
    TemporalGraph g(true, false, -1, false, 1.0, 1.0, 1.0);
    add(g, {{1, 2, 5}});
    add(g, {{3, 4, 5}, {5, 6, 4}});

    EXPECT_EQ(stored_ts(g), (std::vector<int64_t>{4, 5, 5}));
    EXPECT_EQ(vec(g.sources, 3), (std::vector<int32_t>{5, 1, 3}));
    EXPECT_EQ(vec(g.targets, 3), (std::vector<int32_t>{6, 2, 4}));
    EXPECT_EQ(g.last_sort_order, (std::vector<size_t>{2, 0, 1}));
    EXPECT_EQ(g.last_evicted_count, 0u);

    // Within one unsorted batch the given order holds among equal timestamps.
    TemporalGraph h(false, false, -1, false, 1.0, 1.0, 1.0);
    add(h, {{0, 1, 3}, {0, 2, 1}, {0, 3, 3}, {0, 4, 1}, {0, 5, 2}});
    EXPECT_EQ(vec(h.targets, 5), (std::vector<int32_t>{2, 4, 5, 1, 3}));
    EXPECT_EQ(h.last_sort_order, (std::vector<size_t>{1, 3, 4, 0, 2}));
}

TEST(GraphStore, SortRecordIsEmptyOnlyWhenNoSortRan) {
    TemporalGraph g(true, false, -1, false, 1.0, 1.0, 1.0);
    add(g, {{0, 1, 3}});
    EXPECT_EQ(g.num_edges, 1u);
    EXPECT_TRUE(g.last_sort_order.empty());

    // A batch later than everything stored still records the full identity.
    add(g, {{1, 2, 4}, {2, 3, 9}});
    EXPECT_EQ(g.last_sort_order, (std::vector<size_t>{0, 1, 2}));
    EXPECT_EQ(stored_ts(g), (std::vector<int64_t>{3, 4, 9}));
}

TEST(GraphStore, EmptyBatchOnlyResetsRecords) {
    TemporalGraph g(true, false, 3, true, 1.0, 1.0, 1.0);
    populate(g);
    ASSERT_FALSE(g.last_sort_order.empty());
    ASSERT_GT(g.last_evicted_count, 0u);
    const State before = capture(g);
    const int32_t* src = g.sources;

    g.add_edges(nullptr, nullptr, nullptr, 0);

    expect_same(capture(g), before, false);
    EXPECT_EQ(g.sources, src);  // not rebuilt
    EXPECT_TRUE(g.last_sort_order.empty());
    EXPECT_EQ(g.last_evicted_count, 0u);
}

TEST(GraphStore, NodeIdsOfSingleEdge) {
    TemporalGraph g(true, false, -1, false, 1.0, 1.0, 1.0);
    EXPECT_TRUE(g.get_node_ids().empty());
    add(g, {{7, 2, 0}});
    EXPECT_EQ(g.get_node_ids(), (std::vector<int32_t>{2, 7}));
    EXPECT_EQ(g.max_node_id, 7);
    EXPECT_EQ(g.num_active_nodes, 2u);
}

TEST(GraphWindow, EdgeAtCutoffStays) {
    TemporalGraph g(true, false, 10, false, 1.0, 1.0, 1.0);
    std::vector<Edge> batch;
    for (int i = 0; i <= 20; ++i) batch.push_back({i, i + 1, i});
    add(g, batch);

    EXPECT_EQ(g.latest_timestamp, 20);
    EXPECT_EQ(g.num_edges, 11u);
    EXPECT_EQ(g.last_evicted_count, 10u);
    EXPECT_EQ(stored_ts(g).front(), 10);
    EXPECT_EQ(g.sources[0], 10);
    // Ids of evicted edges are gone from the index too.
    EXPECT_EQ(g.num_active_nodes, 12u);
    EXPECT_EQ(g.get_node_ids().front(), 10);
}

TEST(GraphWindow, NonPositiveCapacityKeepsEverything) {
    for (int64_t capacity : {int64_t{0}, int64_t{-1}, kMin}) {
        SCOPED_TRACE(capacity);
        TemporalGraph g(false, false, capacity, false, 1.0, 1.0, 1.0);
        add(g, {{0, 1, 0}, {1, 2, 1000000}});
        add(g, {{2, 3, -5}});
        EXPECT_EQ(stored_ts(g), (std::vector<int64_t>{-5, 0, 1000000}));
        EXPECT_EQ(g.last_evicted_count, 0u);
    }
}

TEST(GraphWindow, BatchOlderThanWindowIsDroppedInSameCall) {
    TemporalGraph g(true, false, 10, false, 1.0, 1.0, 1.0);
    add(g, {{0, 1, 100}});
    add(g, {{5, 6, 3}, {6, 7, 1}, {7, 8, 89}});

    EXPECT_EQ(stored_ts(g), (std::vector<int64_t>{100}));
    EXPECT_EQ(g.last_sort_order, (std::vector<size_t>{2, 1, 3, 0}));
    EXPECT_EQ(g.last_evicted_count, 3u);
    EXPECT_EQ(g.latest_timestamp, 100);
    EXPECT_EQ(g.get_node_ids(), (std::vector<int32_t>{0, 1}));
}

TEST(GraphWindow, FirstBatchWithNegativeTimestampsSetsTheWindow) {
    TemporalGraph g(true, false, 50, false, 1.0, 1.0, 1.0);
    std::vector<Edge> batch;
    for (int i = 0; i <= 10; ++i) batch.push_back({i, 0, -100 + i});
    add(g, batch);
    EXPECT_TRUE(g.has_timestamp);
    EXPECT_EQ(g.latest_timestamp, -90);
    EXPECT_EQ(g.num_edges, 11u);
    EXPECT_EQ(g.last_evicted_count, 0u);

    // A later batch moves the window: cutoff -90, so -100..-91 go.
    add(g, {{1, 1, -40}});
    EXPECT_EQ(stored_ts(g), (std::vector<int64_t>{-90, -40}));
    EXPECT_EQ(g.last_evicted_count, 10u);
}

// free_all keeps the window marker, so older edges are dropped on arrival
// (emptying the store); clear forgets it.
TEST(GraphWindow, ClearForgetsTheMarkerFreeAllKeepsIt) {
    for (bool use_clear : {true, false}) {
        SCOPED_TRACE(use_clear ? "clear" : "free_all");
        TemporalGraph g(false, false, 10, true, 1.0, 1.0, 1.0);
        add(g, {{0, 1, 1000}});
        if (use_clear) {
            g.clear();
            EXPECT_EQ(g.latest_timestamp, -1);
            EXPECT_FALSE(g.has_timestamp);
        } else {
            g.free_all();
            EXPECT_EQ(g.latest_timestamp, 1000);
            EXPECT_TRUE(g.has_timestamp);
        }
        expect_empty_arrays(g);

        add(g, {{2, 3, 5}, {3, 4, 1}});
        if (use_clear) {
            EXPECT_EQ(stored_ts(g), (std::vector<int64_t>{1, 5}));
            EXPECT_EQ(g.latest_timestamp, 5);
            EXPECT_EQ(g.last_evicted_count, 0u);
        } else {
            EXPECT_EQ(g.latest_timestamp, 1000);
            EXPECT_EQ(g.last_evicted_count, 2u);
            expect_empty_arrays(g);
        }
    }
}

TEST(GraphWindow, CutoffSaturatesAtInt64Extremes) {
    struct Case {
        int64_t capacity;
        std::vector<int64_t> ts;
        std::vector<int64_t> kept;
    } cases[] = {
        {kMax, {kMin, -5}, {kMin, -5}},             // -5 - kMax would wrap: clamps to kMin
        {kMax, {kMin + 1, kMin}, {kMin, kMin + 1}},  // far below any real cutoff
        {kMax, {kMin, 0}, {0}},                      // exact: cutoff kMin + 1
        {kMax, {kMax, -1, 0}, {0, kMax}},            // cutoff 0
        {1, {kMax, kMin}, {kMax}},
        {kMax - 1, {kMin, -2}, {kMin, -2}},  // -2 - (kMax - 1) = kMin exactly: no drop
    };
    for (const Case& c : cases) {
        TemporalGraph g(true, false, c.capacity, false, 1.0, 1.0, 1.0);
        std::vector<Edge> batch;
        for (int64_t t : c.ts) batch.push_back({0, 1, t});
        add(g, batch);
        EXPECT_EQ(stored_ts(g), c.kept) << "capacity " << c.capacity << " first ts " << c.ts[0];
        EXPECT_EQ(g.last_evicted_count, c.ts.size() - c.kept.size());
    }
}

TEST(GraphInput, NegativeIdsAreRejectedBeforeAnyChange) {
    struct Case {
        std::vector<int32_t> src, dst;
        std::string message;
    } cases[] = {
        {{1, -3, 2}, {2, 4, 1}, "source -3 at index 1"},
        {{1, 2}, {0, -1}, "target -1 at index 1"},
        {{-7}, {-8}, "source -7 at index 0"},
        {{std::numeric_limits<int32_t>::min()}, {0}, "source -2147483648 at index 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TemporalGraph g(false, false, 3, true, 1.0, 1.0, 1.0);
        populate(g);
        const State before = capture(g);
        const std::vector<int64_t> ts(c.src.size(), 100);
        try {
            g.add_edges(c.src.data(), c.dst.data(), ts.data(), c.src.size());
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("node ids must be non-negative"), std::string::npos) << what;
            EXPECT_NE(what.find(c.message), std::string::npos) << what;
        }
        expect_same(capture(g), before, true);
    }
}

TEST(GraphInput, UseGpuIsRefusedWithoutTouchingState) {
    TemporalGraph g(true, true, -1, false, 1.0, 1.0, 1.0);
    g.add_edges(nullptr, nullptr, nullptr, 0);  // nothing to refuse yet

    const int32_t src[] = {0, 1};
    const int32_t dst[] = {1, 2};
    const int64_t ts[] = {5, 6};
    const std::string expected = strellis::cuda_compiled()
                                     ? "add_edges: the GPU edge store is not implemented in this build yet; "
                                       "use use_gpu=False"
                                     : "Strellis was built without CUDA support; use_gpu=True is not available";
    try {
        g.add_edges(src, dst, ts, 2);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), expected);
    }
    EXPECT_EQ(g.latest_timestamp, -1);
    EXPECT_FALSE(g.has_timestamp);
    EXPECT_EQ(g.h_sources.data(), nullptr);
    expect_empty_arrays(g);
}

struct CountdownReset {
    ~CountdownReset() { strellis::detail::host_alloc_countdown() = 0; }
};

// Fail the k-th host allocation of one add_edges for k = 1, 2, ... until the
// call gets through: every failed call must leave the graph as it was, and the
// call that succeeds must match a graph that never saw a failure.
TEST(GraphFailure, AddEdgesIsAllOrNothingUnderAllocationFailure) {
    struct Case {
        const char* name;
        bool directed;
        bool node2vec;
        int64_t capacity;
    } cases[] = {
        {"undirected", false, false, -1},
        {"directed", true, false, -1},
        {"directed node2vec", true, true, -1},
        {"undirected node2vec eviction", false, true, 5},
        {"directed node2vec eviction", true, true, 5},
    };
    const std::vector<Edge> first = {{0, 1, 10}, {1, 2, 14}, {2, 0, 12}, {3, 3, 11}};
    const std::vector<Edge> second = {{4, 1, 13}, {1, 4, 15}, {2, 5, 12}};
    // Interleaves with the stored edges (a gather) and moves the window (an eviction).
    const std::vector<Edge> third = {{6, 0, 18}, {0, 6, 12}, {5, 2, 16}, {1, 1, 13}};

    CountdownReset reset;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TemporalGraph g(c.directed, false, c.capacity, c.node2vec, 1.0, 1.0, 1.0);
        TemporalGraph reference(c.directed, false, c.capacity, c.node2vec, 1.0, 1.0, 1.0);
        for (TemporalGraph* x : {&g, &reference}) {
            add(*x, first);
            add(*x, second);
        }
        add(reference, third);
        const State before = capture(g);

        size_t failures = 0;
        for (long k = 1;; ++k) {
            ASSERT_LT(k, 1000) << "add_edges never succeeded";
            strellis::detail::host_alloc_countdown() = k;
            bool threw = false;
            try {
                add(g, third);
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            strellis::detail::host_alloc_countdown() = 0;
            if (!threw) break;
            ++failures;
            SCOPED_TRACE("failing allocation " + std::to_string(k));
            expect_same(capture(g), before, false);
            EXPECT_TRUE(g.last_sort_order.empty());
            EXPECT_EQ(g.last_evicted_count, 0u);
            if (HasFailure()) return;
        }
        // Append, gather, eviction and at least the index arrays all allocate.
        EXPECT_GE(failures, 10u);
        expect_same(capture(g), capture(reference), true);
    }
}

}  // namespace
