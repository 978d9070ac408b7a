// Pickers, hops and host walk generation.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "core/graph/graph.hpp"
#include "core/graph_view.hpp"
#include "core/hop.hpp"
#include "core/host_walks.hpp"
#include "core/pickers.hpp"
#include "core/random.hpp"
#include "graph_test_util.hpp"

namespace strellis {
namespace {

using test::Edge;

struct GraphOptions {
    bool directed = true;
    bool node2vec = false;
    double p = 1.0;
    double q = 1.0;
    double timescale_bound = 1.0;
};

std::unique_ptr<TemporalGraph> make_graph(const std::vector<Edge>& edges, GraphOptions o = {}) {
    auto g = std::make_unique<TemporalGraph>(o.directed, false, -1, o.node2vec, o.p, o.q, o.timescale_bound);
    test::add(*g, edges);
    return g;
}

// Deterministic uniforms for distribution checks: fixed seed, never flaky.
struct Uniforms {
    std::mt19937_64 engine{12345};
    double next() { return host_uniform(engine()); }
};

// Groups given by sizes and timestamps, laid out back to back.
struct FakeGroups {
    std::vector<size_t> starts;
    std::vector<int64_t> ts;
    size_t total;
    FakeGroups(std::vector<size_t> sizes, std::vector<int64_t> stamps) : ts(std::move(stamps)) {
        size_t at = 0;
        for (size_t s : sizes) {
            starts.push_back(at);
            at += s;
        }
        total = at;
    }
    int32_t count() const { return static_cast<int32_t>(starts.size()); }
    size_t start(int32_t g) const { return starts[g]; }
    size_t end(int32_t g) const { return static_cast<size_t>(g) + 1 < starts.size() ? starts[g + 1] : total; }
    int64_t timestamp(int32_t g) const { return ts[g]; }
};

template <class F>
std::vector<double> frequencies(size_t buckets, int draws, F&& pick) {
    std::vector<double> f(buckets, 0.0);
    for (int i = 0; i < draws; ++i) {
        const int64_t k = pick();
        EXPECT_GE(k, 0);
        EXPECT_LT(k, static_cast<int64_t>(buckets));
        if (k >= 0 && k < static_cast<int64_t>(buckets)) f[static_cast<size_t>(k)] += 1.0;
    }
    for (double& x : f) x /= draws;
    return f;
}

void expect_distribution(const std::vector<double>& got, std::vector<double> want, double tol = 0.01) {
    double sum = 0;
    for (double w : want) sum += w;
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i] / sum, tol) << "bucket " << i;
}

TEST(Pickers, SingleCandidateAlwaysChosen) {
    for (PickerType p : {Uniform, Linear, ExponentialIndex}) {
        for (double r : {0.0, 0.3, 0.9999999999999999, 1.0}) {
            EXPECT_EQ(pick_group_index(p, 1, r, true), 0);
            EXPECT_EQ(pick_group_index(p, 1, r, false), 0);
        }
    }
    // A lone group is taken without weighing it, even if it could not be weighed.
    FakeGroups one({0}, {5});
    EXPECT_EQ(reservoir_pick(one, 0.5, true, 5, 1.0), 0);
}

TEST(Pickers, ExactIndexValues) {
    struct Case {
        PickerType picker;
        int32_t n;
        double r;
        bool prefer_first;
        int32_t want;
    };
    const Case cases[] = {
        {Uniform, 5, 1.0, true, 4},           // device uniforms reach 1.0
        {Uniform, 5, 0.0, true, 0},           // no regard to the preferred end
        {Uniform, 4, 0.5, false, 2},
        {Linear, 3, 0.0, true, 2},            // far end when r = 0
        {Linear, 3, 0.0, false, 0},
        {Linear, 3, 1.0, true, 0},
        {ExponentialIndex, 5, 0.0, true, 4},  // r = 0: the far end
        {ExponentialIndex, 5, 0.0, false, 0},
        {ExponentialIndex, 800, 0.0, true, 799},  // log(0) = -inf clamps, no overflow
        {ExponentialIndex, 800, 1.0, false, 799},
        {ExponentialIndex, 709, 1.0, false, 708},
        {ExponentialIndex, 709, 0.0, false, 0},
        {Uniform, 0, 0.5, true, -1},
        {Linear, -3, 0.5, true, -1},
        {ReservoirExponential, 3, 0.5, true, -1},  // not an index picker
        {static_cast<PickerType>(5), 3, 0.5, true, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pick_group_index(c.picker, c.n, c.r, c.prefer_first), c.want)
            << "picker " << c.picker << " n " << c.n << " r " << c.r;
    }
    for (int32_t n : {709, 800}) {
        for (double r : {1e-300, 0.25, 0.5, 0.9999999999999999}) {
            const int32_t k = pick_group_index(ExponentialIndex, n, r, true);
            EXPECT_GE(k, 0);
            EXPECT_LT(k, n);
        }
    }
}

TEST(Pickers, ConversionsAvoidUndefinedCasts) {
    EXPECT_EQ(trunc_to_int32(-INFINITY), INT32_MIN);
    EXPECT_EQ(trunc_to_int32(NAN), INT32_MIN);
    EXPECT_EQ(trunc_to_int32(1e300), INT32_MAX);
    EXPECT_EQ(trunc_to_int32(-2.7), -2);
    EXPECT_EQ(trunc_to_int32(2.7), 2);
    EXPECT_EQ(host_uniform(0), 0.0);
    EXPECT_EQ(host_uniform(UINT64_MAX), 0.9999999999999999);
    EXPECT_LT(host_uniform(UINT64_MAX - 1000), 1.0);
    EXPECT_EQ(device_uniform(0), 0x1p-32);
    EXPECT_EQ(device_uniform(UINT32_MAX), 1.0);
}

TEST(Pickers, TemporalScaleAndDistanceWithoutOverflow) {
    EXPECT_DOUBLE_EQ(temporal_scale(1, 10, 1.0), 1.0 / 9.0);
    EXPECT_EQ(temporal_scale(5, 5, 1.0), 1.0);
    EXPECT_EQ(temporal_scale(1, 10, 0.0), 1.0);
    EXPECT_EQ(temporal_scale(1, 10, -2.0), 1.0);
    // The span of the whole int64 range does not overflow.
    const double s = temporal_scale(INT64_MIN, INT64_MAX, 1.0);
    EXPECT_GT(s, 0.0);
    EXPECT_DOUBLE_EQ(s, 1.0 / 18446744073709551615.0);
    EXPECT_DOUBLE_EQ(time_diff(INT64_MAX, INT64_MIN), 18446744073709551615.0);
    EXPECT_DOUBLE_EQ(time_diff(INT64_MIN, INT64_MAX), -18446744073709551615.0);
    EXPECT_DOUBLE_EQ(temporal_weight(INT64_MIN, INT64_MAX, true, s), std::exp(1.0));
    EXPECT_DOUBLE_EQ(temporal_weight(INT64_MAX, INT64_MIN, false, s), std::exp(1.0));
}

TEST(Pickers, IndexPickerDistributions) {
    Uniforms u;
    const int draws = 200000;
    expect_distribution(frequencies(3, draws, [&] { return pick_group_index(Linear, 3, u.next(), true); }),
                        {3, 2, 1});
    expect_distribution(frequencies(3, draws, [&] { return pick_group_index(Linear, 3, u.next(), false); }),
                        {1, 2, 3});
    const double e = std::exp(1.0);
    expect_distribution(
        frequencies(3, draws, [&] { return pick_group_index(ExponentialIndex, 3, u.next(), false); }),
        {1, e, e * e});
    expect_distribution(
        frequencies(3, draws, [&] { return pick_group_index(ExponentialIndex, 3, u.next(), true); }),
        {e * e, e, 1});
    expect_distribution(frequencies(4, draws, [&] { return pick_group_index(Uniform, 4, u.next(), true); }),
                        {1, 1, 1, 1});
    expect_distribution(frequencies(3, draws, [&] { return pick_edge_in_group(10, 13, u.next()) - 10; }),
                        {1, 1, 1});
}

TEST(Pickers, ReservoirWeightsBySizeAndTime) {
    Uniforms u;
    const int draws = 200000;
    // Temporal weights all close to 1: the group of 3 edges is chosen about 3x as often.
    FakeGroups sizes({3, 1}, {0, 10});
    const double flat = temporal_scale(0, 10, 1e-9);
    expect_distribution(frequencies(2, draws, [&] { return reservoir_pick(sizes, u.next(), true, 10, flat); }),
                        {3, 1});
    // Bound 1 over the whole range: the group nearest in time weighs e times the farthest.
    FakeGroups span({1, 1}, {0, 10});
    const double scale = temporal_scale(0, 10, 1.0);
    const double e = std::exp(1.0);
    expect_distribution(frequencies(2, draws, [&] { return reservoir_pick(span, u.next(), true, 10, scale); }),
                        {e, 1});
    expect_distribution(frequencies(2, draws, [&] { return reservoir_pick(span, u.next(), false, 0, scale); }),
                        {1, e});
    // No positive weight anywhere: no choice.
    FakeGroups empty({0, 0}, {1, 2});
    EXPECT_EQ(reservoir_pick(empty, 0.5, true, 2, 1.0), -1);
}

// Every key evaluated, in order: the definition the pruned loop must reproduce exactly.
template <class Groups>
int32_t reservoir_reference(const Groups& groups, double r, bool prefer_first, int64_t reference, double scale) {
    const int32_t n = groups.count();
    if (n == 1) return 0;
    uint64_t s = static_cast<uint64_t>(r * 1e18);
    int32_t best = -1;
    double best_key = -1e308;
    for (int32_t g = 0; g < n; ++g) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        double u = static_cast<double>(s >> 11) * 0x1p-53;
        if (u <= 0.0) u = 1e-18;
        const size_t size = groups.end(g) - groups.start(g);
        const double w = static_cast<double>(size) *
                         std::exp((prefer_first ? time_diff(reference, groups.timestamp(g))
                                                : time_diff(groups.timestamp(g), reference)) *
                                  scale);
        if (size > 0 && w > 0.0) {
            const double key = std::log(u) / w;
            if (key > best_key) {
                best = g;
                best_key = key;
            }
        }
    }
    return best;
}

TEST(Pickers, ReservoirMatchesEvaluatingEveryKey) {
    std::mt19937_64 rng(99);
    Uniforms u;
    for (int trial = 0; trial < 3000; ++trial) {
        const int n = 1 + static_cast<int>(rng() % (trial % 10 == 0 ? 3000 : 60));
        std::vector<size_t> sizes;
        std::vector<int64_t> stamps;
        int64_t t = static_cast<int64_t>(rng() % 1000) - 500;
        for (int g = 0; g < n; ++g) {
            sizes.push_back(rng() % 8 == 0 ? 1 + rng() % 4 : 1);
            t += 1 + static_cast<int64_t>(rng() % (trial % 3 == 0 ? 1000 : 5));
            stamps.push_back(t);
        }
        FakeGroups groups(sizes, stamps);
        const bool forward = trial % 2 == 0;
        const double bounds[] = {1.0, 1e-9, 5.0, 50.0, 0.0};
        const double bound = bounds[trial % 5];
        const double scale = temporal_scale(stamps.front(), stamps.back(), bound);
        const int64_t reference = forward ? stamps.back() : stamps.front();
        for (int k = 0; k < 4; ++k) {
            const double r = u.next();
            ASSERT_EQ(reservoir_pick(groups, r, forward, reference, scale),
                      reservoir_reference(groups, r, forward, reference, scale))
                << "trial " << trial << " r " << r;
        }
    }
}

TEST(Pickers, InfiniteWeightTakesFirstSuchGroup) {
    // timescale_bound <= 0 leaves raw time differences as exponents: exp overflows.
    FakeGroups far({1, 1, 1}, {0, 1000, 5000});
    for (double r : {0.1, 0.5, 0.9}) EXPECT_EQ(reservoir_pick(far, r, true, 5000, 1.0), 0);
}

TEST(Seeds, WalkEngineSeedAndFreshSeeds) {
    EXPECT_EQ(walk_engine_seed(0, 0), 0x9e3779b97f4a7c15ULL);
    EXPECT_EQ(walk_engine_seed(42, 0), 42ULL ^ 0x9e3779b97f4a7c15ULL);
    EXPECT_EQ(walk_engine_seed(42, 1), 42ULL ^ (0x9e3779b97f4a7c15ULL + 0x9e3779b1ULL));
    EXPECT_EQ(walk_engine_seed(42, 3), 42ULL ^ (0x9e3779b97f4a7c15ULL + 3 * 0x9e3779b1ULL));
    EXPECT_EQ(resolve_seed(7), 7u);
    std::set<uint64_t> fresh;
    for (int i = 0; i < 4; ++i) fresh.insert(resolve_seed(0));
    EXPECT_GT(fresh.size(), 1u);
}

// Node 0 has edges at 3, 5, 5, 8 (to 1, 2, 3, 4).
std::unique_ptr<TemporalGraph> hop_fixture(bool directed = true) {
    return make_graph({{0, 1, 3}, {0, 2, 5}, {0, 3, 5}, {0, 4, 8}}, {directed});
}

TEST(Hop, StrictTimeFilterBothDirections) {
    auto g = hop_fixture();
    const DeviceGraphView v = make_graph_view(*g);
    Uniforms u;
    for (int i = 0; i < 50; ++i) {
        const double ra = u.next(), rb = u.next();
        for (PickerType p : {Uniform, Linear, ExponentialIndex, ReservoirExponential, TemporalNode2Vec}) {
            const HopResult f = do_hop(v, walk_index(v, true), 0, 5, -1, true, p, ra, rb);
            EXPECT_EQ(f.node, 4);
            EXPECT_EQ(f.timestamp, 8);
            EXPECT_EQ(f.edge_id, 3);
        }
    }
    // Backward over a directed graph reads the inbound index: node 2 was entered at 5.
    const HopResult back_dead = do_hop(v, walk_index(v, false), 2, 5, -1, false, Uniform, 0.3, 0.3);
    EXPECT_EQ(back_dead.node, -1);
    const HopResult back = do_hop(v, walk_index(v, false), 4, 9, -1, false, Uniform, 0.0, 0.0);
    EXPECT_EQ(back.node, 0);
    EXPECT_EQ(back.timestamp, 8);

    // Undirected: backward at 5 from node 0 sees only the group at 3.
    auto ug = hop_fixture(false);
    const DeviceGraphView uv = make_graph_view(*ug);
    for (double r : {0.0, 0.5, 0.99}) {
        const HopResult b = do_hop(uv, walk_index(uv, false), 0, 5, -1, false, Uniform, r, r);
        EXPECT_EQ(b.node, 1);
        EXPECT_EQ(b.timestamp, 3);
    }
    // Everything at or before the current time: dead end.
    const HopResult dead = do_hop(v, walk_index(v, true), 0, 8, -1, true, Uniform, 0.5, 0.5);
    EXPECT_EQ(dead.node, -1);
    EXPECT_EQ(dead.timestamp, -1);
    EXPECT_EQ(dead.edge_id, -1);
}

TEST(Hop, InvalidNodesAndPickersAreDeadEnds) {
    auto g = make_graph({{0, 2, 1}, {2, 5, 2}});  // ids 1, 3, 4 inactive
    const DeviceGraphView v = make_graph_view(*g);
    const IndexView out = walk_index(v, true);
    for (int32_t node : {-1, 1, 3, 6, 1000}) {
        EXPECT_EQ(do_hop(v, out, node, 0, -1, true, Uniform, 0.5, 0.5).node, -1) << node;
        EXPECT_EQ(pick_start_from_node(v, out, node, true, Uniform, 0.5, 0.5).node, -1) << node;
    }
    EXPECT_EQ(pick_start_from_node(v, out, 5, true, Uniform, 0.5, 0.5).node, -1);  // a sink
    EXPECT_EQ(pick_start_from_node(v, out, 0, true, static_cast<PickerType>(5), 0.5, 0.5).node, -1);
    EXPECT_EQ(pick_start_from_node(v, out, 0, true, Uniform, 0.5, 0.5).node, 2);
}

TEST(Hop, NegativeTimestampsStillFilterByTime) {
    // Arriving over an edge stored at -1 must not open up the node's earlier edges.
    auto g = make_graph({{0, 1, -5}, {0, 2, -1}, {0, 3, 3}}, {false});
    const DeviceGraphView v = make_graph_view(*g);
    Uniforms u;
    for (int i = 0; i < 100; ++i) {
        const double ra = u.next(), rb = u.next();
        EXPECT_EQ(do_hop(v, walk_index(v, true), 0, -1, 2, true, Uniform, ra, rb).timestamp, 3);
        EXPECT_EQ(do_hop(v, walk_index(v, false), 0, -1, 2, false, Uniform, ra, rb).timestamp, -5);
    }
}

TEST(Hop, UndirectedReturnsOtherEndpointAndSelfLoop) {
    auto g = make_graph({{3, 3, 1}, {4, 3, 2}}, {false});
    const DeviceGraphView v = make_graph_view(*g);
    const IndexView idx = walk_index(v, true);
    EXPECT_EQ(pick_start_from_node(v, idx, 3, true, Uniform, 0.0, 0.0).node, 3);  // the self-loop at 1
    EXPECT_EQ(do_hop(v, idx, 3, 1, -1, true, Uniform, 0.5, 0.5).node, 4);
    EXPECT_EQ(do_hop(v, idx, 4, 0, -1, true, Uniform, 0.5, 0.5).node, 3);
}

TEST(Hop, ReservoirOverCandidatesWeighsWholeNodeRange) {
    // Groups at 1, 5, 10; forward from 4: candidates 5 and 10, reference 10, span 9.
    auto g = make_graph({{0, 1, 1}, {0, 2, 5}, {0, 3, 10}});
    const DeviceGraphView v = make_graph_view(*g);
    Uniforms u;
    const double w5 = std::exp(5.0 / 9.0);
    expect_distribution(frequencies(2, 200000,
                                    [&] {
                                        const HopResult h = do_hop(v, walk_index(v, true), 0, 4, -1, true,
                                                                   ReservoirExponential, u.next(), u.next());
                                        return h.timestamp == 5 ? 0 : (h.timestamp == 10 ? 1 : -1);
                                    }),
                        {w5, 1.0});
}

// prev -> cur at 1; prev -> a at 0 (a neighbours prev); cur -> prev, a, b at 5.
std::vector<Edge> node2vec_edges() { return {{0, 2, 0}, {0, 1, 1}, {1, 0, 5}, {1, 2, 5}, {1, 3, 5}}; }

TEST(Hop, Node2VecFactors) {
    auto g = make_graph(node2vec_edges(), {true, true, 2.0, 0.5});
    const DeviceGraphView v = make_graph_view(*g);
    EXPECT_EQ(node2vec_factor(v, 0, 0), 0.5);  // return: inv_p
    EXPECT_EQ(node2vec_factor(v, 0, 2), 1.0);  // neighbour of prev
    EXPECT_EQ(node2vec_factor(v, 0, 3), 2.0);  // elsewhere: inv_q
    EXPECT_EQ(node2vec_factor(v, 3, 3), 0.5);  // return even without adjacency
    EXPECT_EQ(node2vec_factor(v, -1, 2), 2.0);
    EXPECT_EQ(node2vec_factor(v, 99, 2), 2.0);

    Uniforms u;
    auto which = [&](const HopResult& h) { return h.node == 0 ? 0 : (h.node == 2 ? 1 : (h.node == 3 ? 2 : -1)); };
    expect_distribution(frequencies(3, 200000,
                                    [&] {
                                        return which(do_hop(v, walk_index(v, true), 1, 1, 0, true,
                                                            TemporalNode2Vec, u.next(), u.next()));
                                    }),
                        {0.5, 1.0, 2.0});
    // Without a previous node, or with Node2Vec off, it is the plain temporal walk.
    auto off = make_graph(node2vec_edges(), {true, false, 2.0, 0.5});
    const DeviceGraphView vo = make_graph_view(*off);
    for (int i = 0; i < 200; ++i) {
        const double ra = u.next(), rb = u.next();
        const HopResult want = do_hop(vo, walk_index(vo, true), 1, 1, 0, true, ReservoirExponential, ra, rb);
        const HopResult got = do_hop(vo, walk_index(vo, true), 1, 1, 0, true, TemporalNode2Vec, ra, rb);
        EXPECT_EQ(got.edge_id, want.edge_id);
        const HopResult none = do_hop(v, walk_index(v, true), 1, 1, -1, true, TemporalNode2Vec, ra, rb);
        EXPECT_EQ(none.edge_id, do_hop(v, walk_index(v, true), 1, 1, -1, true, ReservoirExponential, ra, rb).edge_id);
    }
}

TEST(Hop, Node2VecWithUnitParametersMatchesTemporalWalk) {
    // Groups of 3 edges and 1 edge: a group weighs its temporal weight times its edges, not size squared.
    auto g = make_graph({{5, 0, 0}, {0, 1, 2}, {0, 2, 2}, {0, 3, 2}, {0, 4, 10}}, {true, true, 1.0, 1.0});
    const DeviceGraphView v = make_graph_view(*g);
    Uniforms u;
    // Node 0's groups are at 2 and 10: reference 10, span 8; the group at 2 weighs 3 * e, at 10 weighs 1.
    const double e = std::exp(1.0);
    for (PickerType p : {TemporalNode2Vec, ReservoirExponential}) {
        expect_distribution(frequencies(2, 200000,
                                        [&] {
                                            const HopResult h = do_hop(v, walk_index(v, true), 0, 0, 5, true, p,
                                                                       u.next(), u.next());
                                            return h.timestamp == 2 ? 0 : (h.timestamp == 10 ? 1 : -1);
                                        }),
                            {3.0 * e, 1.0});
    }
}

// ---- Host walk generation ----

WalkConfig config(int32_t len, WalkDirection dir, PickerType walk, PickerType start, uint64_t seed,
                  bool shuffle = false) {
    WalkConfig c;
    c.max_walk_len = len;
    c.direction = dir;
    c.walk_bias = walk;
    c.start_bias = start;
    c.seed = seed;
    c.shuffle_walks = shuffle;
    c.padding_value = -7;
    return c;
}

TEST(HostWalks, BackwardWalkLayout) {
    auto g = make_graph({{0, 1, 1}, {1, 2, 2}});
    const int32_t start = 2;
    const InternalWalkResult r = generate_walks_cpu(*g, &start, 1, config(3, Backward_In_Time, Uniform, Uniform, 9));
    ASSERT_EQ(r.num_walks, 1u);
    EXPECT_EQ(r.walk_lens, std::vector<int64_t>({3}));
    EXPECT_EQ(r.nodes, std::vector<int32_t>({0, 1, 2}));
    EXPECT_EQ(r.timestamps, std::vector<int64_t>({1, 2, -7}));
    EXPECT_EQ(r.edge_ids, std::vector<int64_t>({0, 1}));

    const InternalWalkResult f = generate_walks_cpu(*g, &g->sources[0], 1, config(4, Forward_In_Time, Uniform, Uniform, 9));
    EXPECT_EQ(f.walk_lens, std::vector<int64_t>({3}));
    EXPECT_EQ(f.nodes, std::vector<int32_t>({0, 1, 2, -7}));
    EXPECT_EQ(f.timestamps, std::vector<int64_t>({-7, 1, 2, -7}));
    EXPECT_EQ(f.edge_ids, std::vector<int64_t>({0, 1, -1}));
}

TEST(HostWalks, ShortAndEmptyRequests) {
    auto g = make_graph({{0, 1, 1}, {1, 2, 2}});
    const std::vector<int32_t> starts = {0, 1, 2, 7, -1, -3};
    EXPECT_EQ(generate_walks_cpu(*g, starts.data(), 0, config(5, Forward_In_Time, Uniform, Uniform, 1)).num_walks, 0u);
    const InternalWalkResult empty = generate_walks_cpu(*g, starts.data(), 3, config(0, Forward_In_Time, Uniform, Uniform, 1));
    EXPECT_EQ(empty.num_walks, 0u);
    EXPECT_EQ(empty.max_walk_len, 0u);
    EXPECT_TRUE(empty.nodes.empty() && empty.timestamps.empty() && empty.edge_ids.empty() && empty.walk_lens.empty());

    const InternalWalkResult one = generate_walks_cpu(*g, starts.data(), 3, config(1, Forward_In_Time, Uniform, Uniform, 1));
    EXPECT_EQ(one.walk_lens, std::vector<int64_t>(3, 0));
    EXPECT_EQ(one.nodes, std::vector<int32_t>(3, -7));
    EXPECT_EQ(one.timestamps, std::vector<int64_t>(3, -7));
    EXPECT_TRUE(one.edge_ids.empty());

    const InternalWalkResult two = generate_walks_cpu(*g, starts.data(), starts.size(), config(2, Forward_In_Time, Uniform, Uniform, 1));
    // Sink 2, unknown 7, other negative entries: no start. -1 samples a start edge.
    EXPECT_EQ(two.walk_lens, std::vector<int64_t>({2, 2, 0, 0, 2, 0}));
}

TEST(HostWalks, GlobalStartsPickEndpointsByDirection) {
    auto directed = make_graph({{0, 1, 5}});
    auto undirected = make_graph({{0, 1, 5}}, {false});
    const std::vector<int32_t> starts(4000, -1);
    const InternalWalkResult f = generate_walks_cpu(*directed, starts.data(), starts.size(), config(2, Forward_In_Time, Uniform, Linear, 3));
    const InternalWalkResult b = generate_walks_cpu(*directed, starts.data(), starts.size(), config(2, Backward_In_Time, Uniform, ExponentialIndex, 3));
    const InternalWalkResult u = generate_walks_cpu(*undirected, starts.data(), starts.size(), config(2, Forward_In_Time, Uniform, TemporalNode2Vec, 3));
    int started_at_target = 0;
    for (size_t w = 0; w < starts.size(); ++w) {
        EXPECT_EQ(f.nodes[2 * w], 0);      // forward: source then target
        EXPECT_EQ(b.nodes[2 * w + 1], 1);  // backward: started at the target, stored reversed
        EXPECT_EQ(b.nodes[2 * w], 0);
        started_at_target += u.nodes[2 * w] == 1;
    }
    EXPECT_NEAR(started_at_target / 4000.0, 0.5, 0.05);
    auto empty = std::make_unique<TemporalGraph>(true, false, -1, false, 1.0, 1.0, 1.0);
    EXPECT_EQ(generate_walks_cpu(*empty, starts.data(), 3, config(4, Forward_In_Time, Uniform, Uniform, 3)).walk_lens,
              std::vector<int64_t>(3, 0));
}

std::vector<Edge> random_edges(std::mt19937_64& rng, int nodes, int edges, int64_t t0, int64_t span) {
    std::uniform_int_distribution<int32_t> node(0, nodes - 1);
    std::uniform_int_distribution<int64_t> ts(t0, t0 + span);
    std::vector<Edge> out;
    for (int i = 0; i < edges; ++i) out.push_back({node(rng), node(rng), ts(rng)});
    return out;
}

// Every row is a time-respecting walk over stored edges, padded exactly past its length.
void check_walks(const TemporalGraph& g, const InternalWalkResult& r, const std::vector<int32_t>& starts,
                 const WalkConfig& c) {
    const size_t L = r.max_walk_len;
    const bool forward = c.direction == Forward_In_Time;
    ASSERT_EQ(r.num_walks, starts.size());
    std::multiset<int32_t> want_starts(starts.begin(), starts.end());
    for (size_t w = 0; w < r.num_walks; ++w) {
        const int32_t* nodes = &r.nodes[w * L];
        const int64_t* ts = &r.timestamps[w * L];
        const int64_t* edges = &r.edge_ids[w * (L - 1)];
        const int64_t len = r.walk_lens[w];
        ASSERT_GE(len, 0);
        ASSERT_LE(len, static_cast<int64_t>(L));
        ASSERT_NE(len, 1);
        for (size_t p = static_cast<size_t>(len); p < L; ++p) {
            EXPECT_EQ(nodes[p], c.padding_value);
            EXPECT_EQ(ts[p], c.padding_value);
        }
        for (size_t h = len > 0 ? static_cast<size_t>(len - 1) : 0; h + 1 < L; ++h) EXPECT_EQ(edges[h], -1);
        if (len == 0) continue;
        const int32_t start = forward ? nodes[0] : nodes[len - 1];
        EXPECT_EQ(ts[forward ? 0 : len - 1], c.padding_value);
        if (!c.shuffle_walks) {
            EXPECT_TRUE(starts[w] == -1 || starts[w] == start);
        }
        int64_t prev_t = INT64_MIN;
        for (int64_t h = 0; h + 1 < len; ++h) {
            const int64_t e = edges[h];
            ASSERT_GE(e, 0);
            ASSERT_LT(e, static_cast<int64_t>(g.num_edges));
            const int32_t s = g.sources[e], d = g.targets[e];
            if (g.is_directed) {
                EXPECT_EQ(s, nodes[h]);
                EXPECT_EQ(d, nodes[h + 1]);
            } else {
                EXPECT_TRUE((s == nodes[h] && d == nodes[h + 1]) || (d == nodes[h] && s == nodes[h + 1]));
            }
            EXPECT_EQ(ts[forward ? h + 1 : h], g.timestamps[e]);
            if (h > 0) {
                EXPECT_GT(g.timestamps[e], prev_t) << "walk " << w << " is not time-respecting";
            }
            prev_t = g.timestamps[e];
        }
    }
}

TEST(HostWalks, RandomGraphsGiveValidReproducibleWalks) {
    std::mt19937_64 rng(2026);
    for (int trial = 0; trial < 12; ++trial) {
        const bool directed = trial % 2 == 0;
        const bool node2vec = trial % 3 == 0;
        GraphOptions o{directed, node2vec, 0.5, 2.0, trial % 4 == 0 ? 0.0 : 1.0};
        auto g = make_graph(random_edges(rng, 30, 300, -20, 40), o);
        std::vector<int32_t> starts;
        for (int i = 0; i < 40; ++i) starts.push_back(static_cast<int32_t>(i % 33) - 1);  // -1, inactive ids too
        for (PickerType walk : {Uniform, Linear, ExponentialIndex, ReservoirExponential, TemporalNode2Vec}) {
            for (WalkDirection dir : {Forward_In_Time, Backward_In_Time}) {
                const WalkConfig c = config(6, dir, walk, static_cast<PickerType>((walk + trial) % 5), 77, trial % 2 == 1);
                const InternalWalkResult r = generate_walks_cpu(*g, starts.data(), starts.size(), c);
                check_walks(*g, r, starts, c);
                const InternalWalkResult again = generate_walks_cpu(*g, starts.data(), starts.size(), c);
                EXPECT_EQ(r.nodes, again.nodes);
                EXPECT_EQ(r.timestamps, again.timestamps);
                EXPECT_EQ(r.edge_ids, again.edge_ids);
                EXPECT_EQ(r.walk_lens, again.walk_lens);
            }
        }
    }
}

TEST(HostWalks, ShuffleAndFreshSeeds) {
    std::mt19937_64 rng(7);
    auto g = make_graph(random_edges(rng, 50, 800, 0, 100));
    std::vector<int32_t> starts;
    for (int32_t i = 0; i < 50; ++i) starts.push_back(i);
    WalkConfig c = config(8, Forward_In_Time, Uniform, Uniform, 99, true);
    const InternalWalkResult a = generate_walks_cpu(*g, starts.data(), starts.size(), c);
    const InternalWalkResult b = generate_walks_cpu(*g, starts.data(), starts.size(), c);
    EXPECT_EQ(a.nodes, b.nodes);
    // The rows are the start list permuted: each start that could walk appears once.
    std::multiset<int32_t> got, want;
    for (size_t w = 0; w < a.num_walks; ++w) {
        if (a.walk_lens[w] > 0) got.insert(a.nodes[w * 8]);
    }
    c.shuffle_walks = false;
    const InternalWalkResult plain = generate_walks_cpu(*g, starts.data(), starts.size(), c);
    for (size_t w = 0; w < plain.num_walks; ++w) {
        if (plain.walk_lens[w] > 0) {
            want.insert(plain.nodes[w * 8]);
            EXPECT_EQ(plain.nodes[w * 8], starts[w]);
        }
    }
    EXPECT_EQ(got, want);
    EXPECT_NE(a.nodes, plain.nodes);
    c.seed = 0;
    const InternalWalkResult f1 = generate_walks_cpu(*g, starts.data(), starts.size(), c);
    const InternalWalkResult f2 = generate_walks_cpu(*g, starts.data(), starts.size(), c);
    EXPECT_NE(f1.nodes, f2.nodes);
    // A single start is never shuffled and only depends on its row and the seed.
    c.seed = 5;
    c.shuffle_walks = true;
    const InternalWalkResult single = generate_walks_cpu(*g, &starts[3], 1, c);
    if (single.walk_lens[0] > 0) {
        EXPECT_EQ(single.nodes[0], 3);
    }
}

TEST(WalkConfigParsing, FirstBadNameInParseOrderIsReported) {
    struct Case {
        const char* walk;
        const char* dir;
        const char* start;
        const char* mode;
        const char* message;
    };
    const Case cases[] = {
        {"uniform", "Forward", "Uniform", "fullwalk",
         "Unknown picker type: 'uniform'. Valid types: Uniform, Linear, ExponentialIndex, ReservoirExponential, "
         "TemporalNode2Vec"},
        {"Uniform", "forward", "x", "NodeGrouped", "Unknown walk direction: 'forward'. Valid directions: Forward, Backward"},
        {"Uniform", "Backward_In_Time", " Linear", "NodeGrouped",
         "Unknown picker type: ' Linear'. Valid types: Uniform, Linear, ExponentialIndex, ReservoirExponential, "
         "TemporalNode2Vec"},
        {"Uniform", "Forward", "Linear", "fullwalk", "Unknown kernel mode: 'fullwalk'. Valid modes: NodeGrouped, FullWalk"},
    };
    for (const Case& c : cases) {
        try {
            make_walk_config(10, 1, c.walk, c.dir, c.start, c.mode, 0, true, -1);
            ADD_FAILURE() << "accepted " << c.walk << " " << c.dir << " " << c.start << " " << c.mode;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    const WalkConfig ok = make_walk_config(5, 3, "TemporalNode2Vec", "Backward", "Linear", "FullWalk", 9, false, -2);
    EXPECT_EQ(ok.walk_bias, TemporalNode2Vec);
    EXPECT_EQ(ok.direction, Backward_In_Time);
    EXPECT_EQ(ok.start_bias, Linear);
    EXPECT_EQ(ok.kernel_mode, FullWalk);
    EXPECT_EQ(ok.num_walks_total, 0);
    EXPECT_EQ(ok.num_walks_per_node, 3);
    EXPECT_EQ(ok.seed, 9u);
    EXPECT_FALSE(ok.shuffle_walks);
    EXPECT_EQ(ok.padding_value, -2);
}

}  // namespace
}  // namespace strellis
