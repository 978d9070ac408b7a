// Facade ingestion: feature rows stay aligned with the edge store, and a batch
// that fails anywhere (host allocation failures injected one by one) leaves
// edges, feature rows and last-batch sets exactly as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <numeric>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include "core/strellis.hpp"

namespace {

using strellis::Strellis;

constexpr size_t kDim = 3;

struct Batch {
    std::vector<int32_t> src;
    std::vector<int32_t> dst;
    std::vector<int64_t> ts;
    std::vector<float> feat;  // kDim per edge

    void push(int32_t s, int32_t d, int64_t t, float id) {
        src.push_back(s);
        dst.push_back(d);
        ts.push_back(t);
        // Every row is distinct, so a misplaced row cannot go unnoticed.
        feat.insert(feat.end(), {id, static_cast<float>(s), static_cast<float>(t)});
    }
    size_t size() const { return src.size(); }
};

void add(Strellis& g, const Batch& b) {
    g.add_edges(b.src.data(), b.dst.data(), b.ts.data(), b.size(), b.feat.data(), kDim);
}

struct Snapshot {
    std::vector<int32_t> src, dst;
    std::vector<int64_t> ts;
    std::vector<float> rows;
    size_t dim;
    std::vector<int32_t> last_src, last_dst;

    bool operator==(const Snapshot& o) const {
        return std::tie(src, dst, ts, rows, dim, last_src, last_dst) ==
               std::tie(o.src, o.dst, o.ts, o.rows, o.dim, o.last_src, o.last_dst);
    }
};

Snapshot snapshot(const Strellis& g) {
    Snapshot s;
    strellis::EdgeArrays e = g.get_edges();
    s.src = e.sources;
    s.dst = e.targets;
    s.ts = e.timestamps;
    if (g.features() != nullptr) s.rows.assign(g.features(), g.features() + g.edge_count() * g.feature_dim());
    s.dim = g.feature_dim();
    s.last_src = g.last_batch_sources();
    s.last_dst = g.last_batch_targets();
    return s;
}

// The store after `batches` by the textbook rule: stable sort of everything by
// time (earlier arrivals first on ties), then drop what is older than the window.
Snapshot expected_after(const std::vector<Batch>& batches, int64_t window) {
    Batch all;
    for (const Batch& b : batches) {
        all.src.insert(all.src.end(), b.src.begin(), b.src.end());
        all.dst.insert(all.dst.end(), b.dst.begin(), b.dst.end());
        all.ts.insert(all.ts.end(), b.ts.begin(), b.ts.end());
        all.feat.insert(all.feat.end(), b.feat.begin(), b.feat.end());
    }
    std::vector<size_t> order(all.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return all.ts[a] < all.ts[b]; });
    const int64_t latest = *std::max_element(all.ts.begin(), all.ts.end());
    Snapshot s;
    for (size_t p : order) {
        if (all.ts[p] < latest - window) continue;
        s.src.push_back(all.src[p]);
        s.dst.push_back(all.dst[p]);
        s.ts.push_back(all.ts[p]);
        s.rows.insert(s.rows.end(), all.feat.begin() + p * kDim, all.feat.begin() + (p + 1) * kDim);
    }
    s.dim = kDim;
    const Batch& last = batches.back();
    s.last_src = last.src;
    s.last_dst = last.dst;
    for (auto* v : {&s.last_src, &s.last_dst}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    return s;
}

struct CountdownReset {
    ~CountdownReset() { strellis::detail::host_alloc_countdown() = 0; }
};

TEST(FacadeIngest, FeatureRowsFollowSortAndEviction) {
    constexpr int64_t window = 10;
    Strellis g(true, false, window, false, 1.0, 1.0, 1.0);
    std::vector<Batch> batches(3);
    for (int i = 0; i < 8; ++i) batches[0].push(i, i + 1, 2 * i, static_cast<float>(i));  // ts 0..14
    // Older than stored, ties with stored, and newer: a merge plus an eviction.
    batches[1].push(20, 21, 3, 100);
    batches[1].push(22, 23, 18, 101);
    batches[1].push(24, 25, 6, 102);
    batches[1].push(26, 27, 14, 103);
    batches[2].push(1, 2, 30, 200);  // pushes everything but itself out
    batches[2].push(3, 4, 19, 201);  // already older than the window

    std::vector<Batch> seen;
    for (const Batch& b : batches) {
        add(g, b);
        seen.push_back(b);
        SCOPED_TRACE(seen.size());
        EXPECT_EQ(snapshot(g), expected_after(seen, window));
    }
    EXPECT_EQ(g.edge_count(), 1u);
}

strellis::InternalWalkResult raw_walks(size_t walks, size_t len, std::vector<int64_t> edge_ids) {
    strellis::InternalWalkResult raw;
    raw.num_walks = walks;
    raw.max_walk_len = len;
    raw.nodes.assign(walks * len, -1);
    raw.timestamps.assign(walks * len, -1);
    raw.walk_lens.assign(walks, 0);
    raw.edge_ids = std::move(edge_ids);
    return raw;
}

TEST(FacadeOutput, GatherTakesRowsByEdgeIdAndZeroesTheRest) {
    Strellis g(true, false, -1, false, 1.0, 1.0, 1.0);
    Batch b;
    b.push(1, 2, 5, 10);
    b.push(2, 3, 6, 11);
    add(g, b);

    // Two walks of width 3: ids 1, -1 | 2 (past the store), 0.
    const strellis::WalkResult r = g.build_walk_output(raw_walks(2, 3, {1, -1, 2, 0}));
    ASSERT_TRUE(r.has_edge_features);
    EXPECT_EQ(r.feature_dim, kDim);
    const std::vector<float> want = {11, 2, 6, 0, 0, 0, 0, 0, 0, 10, 1, 5};
    EXPECT_EQ(r.edge_features, want);
    EXPECT_EQ(r.nodes.size(), 6u);

    // No hop slot, or no walk: nothing to gather.
    for (const auto& [walks, len] : {std::pair<size_t, size_t>{3, 1}, {0, 4}}) {
        const strellis::WalkResult empty = g.build_walk_output(raw_walks(walks, len, {}));
        EXPECT_FALSE(empty.has_edge_features);
        EXPECT_EQ(empty.feature_dim, 0u);
        EXPECT_TRUE(empty.edge_features.empty());
    }
}

TEST(FacadeIngest, AllocationFailureAnywhereLeavesEverythingUnchanged) {
    constexpr int64_t window = 10;
    Strellis g(true, false, window, false, 1.0, 1.0, 1.0);
    std::vector<Batch> batches(2);
    for (int i = 0; i < 12; ++i) batches[0].push(i % 5, (i + 2) % 7, i, static_cast<float>(i));
    add(g, batches[0]);
    const Snapshot before = snapshot(g);

    batches[1].push(30, 31, 19, 100);  // evicts ts < 9
    batches[1].push(32, 33, 4, 101);   // older than the window
    batches[1].push(34, 35, 10, 102);  // ties with a stored edge
    batches[1].push(30, 36, 11, 103);

    CountdownReset reset;
    int failures = 0;
    bool succeeded = false;
    for (long k = 1; k < 1000 && !succeeded; ++k) {
        SCOPED_TRACE(k);
        strellis::detail::host_alloc_countdown() = k;
        try {
            add(g, batches[1]);
            succeeded = true;
        } catch (const std::bad_alloc&) {
            ++failures;
        }
        // A countdown that did not fire must not leak into the checks below.
        strellis::detail::host_alloc_countdown() = 0;
        if (!succeeded) {
            EXPECT_EQ(snapshot(g), before);
        }
    }
    ASSERT_TRUE(succeeded);
    EXPECT_GE(failures, 2);  // at least the facade's and the store's allocations were hit
    // The first k that lets the batch through fails the trim of the evicted
    // rows, whose loss is harmless: the content must still be right.
    EXPECT_EQ(snapshot(g), expected_after(batches, window));

    // And the instance still ingests normally afterwards.
    Batch next;
    next.push(40, 41, 25, 300);
    add(g, next);
    batches.push_back(next);
    EXPECT_EQ(snapshot(g), expected_after(batches, window));
}

TEST(FacadeIngest, RejectedBatchLeavesLastBatchSets) {
    Strellis g(true, false, -1, false, 1.0, 1.0, 1.0);
    Batch first;
    first.push(1, 2, 5, 1);
    add(g, first);
    const Snapshot before = snapshot(g);

    Batch negative;
    negative.push(3, -4, 6, 2);
    EXPECT_THROW(add(g, negative), std::runtime_error);
    EXPECT_EQ(snapshot(g), before);

    Batch narrow = first;
    EXPECT_THROW(g.add_edges(narrow.src.data(), narrow.dst.data(), narrow.ts.data(), 1, narrow.feat.data(), 2),
                 std::runtime_error);
    EXPECT_EQ(snapshot(g), before);
}

}  // namespace
