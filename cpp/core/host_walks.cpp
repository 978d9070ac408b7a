#include "core/host_walks.hpp"

#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "core/graph_view.hpp"
#include "core/pickers.hpp"
#include "core/random.hpp"
#include "core/walk.hpp"

namespace strellis {

namespace {
// One MT19937-64 per walk, seeded from (seed, row) only.
struct HostWalkRng {
    std::mt19937_64 engine;
    explicit HostWalkRng(uint64_t seed) : engine(seed) {}
    double next() { return host_uniform(engine()); }
};
}  // namespace

InternalWalkResult generate_walks_cpu(const TemporalGraph& graph, const int32_t* start_nodes, size_t n,
                                      const WalkConfig& config) {
    InternalWalkResult out;
    if (n == 0 || config.max_walk_len <= 0) return out;
    const size_t len = static_cast<size_t>(config.max_walk_len);
    if (n > std::numeric_limits<size_t>::max() / len / sizeof(int64_t)) {
        throw std::length_error("generate_walks_cpu: walk output too large");
    }
    out.nodes.assign(n * len, config.padding_value);
    out.timestamps.assign(n * len, static_cast<int64_t>(config.padding_value));
    out.edge_ids.assign(n * (len - 1), -1);
    out.walk_lens.assign(n, 0);
    out.num_walks = n;
    out.max_walk_len = len;

    std::vector<int32_t> starts(start_nodes, start_nodes + n);
    const uint64_t seed = resolve_seed(config.seed);
    if (config.shuffle_walks && n != 1) shuffle_start_list_host(starts.data(), n, seed);

    const bool forward = config.direction == Forward_In_Time;
    const DeviceGraphView view = make_graph_view(graph);
    const IndexView idx = walk_index(view, forward);
    const WalkParams params{config.max_walk_len, forward, config.walk_bias, start_picker(config.start_bias)};
    // Rows of length 1 have no edge slots; any valid pointer serves.
    int64_t no_edges = 0;
    for (size_t w = 0; w < n; ++w) {
        HostWalkRng rng(walk_engine_seed(seed, w));
        int64_t* edges = len > 1 ? out.edge_ids.data() + w * (len - 1) : &no_edges;
        out.walk_lens[w] = generate_walk(view, idx, starts[w], params, rng, out.nodes.data() + w * len,
                                         out.timestamps.data() + w * len, edges);
    }
    return out;
}

}  // namespace strellis
