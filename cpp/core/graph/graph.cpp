#include "core/graph/graph.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/graph_view.hpp"

namespace strellis {

namespace {

// latest - capacity for capacity > 0, clamped at INT64_MIN instead of overflowing.
int64_t window_cutoff(int64_t latest, int64_t capacity) noexcept {
    if (latest < std::numeric_limits<int64_t>::min() + capacity) return std::numeric_limits<int64_t>::min();
    return latest - capacity;
}

template <typename T>
void copy_n_or_nothing(const T* from, size_t n, T* to) noexcept {
    if (n > 0) std::memcpy(to, from, n * sizeof(T));
}

}  // namespace

void check_node_ids(const int32_t* src, const int32_t* dst, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const char* which = nullptr;
        int32_t id = 0;
        if (src[i] < 0) {
            which = "source";
            id = src[i];
        } else if (dst[i] < 0) {
            which = "target";
            id = dst[i];
        }
        if (which != nullptr) {
            throw std::runtime_error("add_edges: node ids must be non-negative (" + std::string(which) + " " +
                                     std::to_string(id) + " at index " + std::to_string(i) + ")");
        }
    }
}

// Everything add_edges may replace on the host side. The owners are moved in,
// so the old arrays stay alive (and readable through the raw pointers) until
// the new state is complete or has been rolled back.
struct TemporalGraph::HostSnapshot {
    HostBuffer<int32_t> h_sources;
    HostBuffer<int32_t> h_targets;
    HostBuffer<int64_t> h_timestamps;
    HostBuffer<size_t> h_ts_group_offsets;
    HostBuffer<int64_t> h_ts_group_timestamps;
    HostBuffer<size_t> h_out_node_offsets;
    HostBuffer<size_t> h_out_edge_indices;
    HostBuffer<size_t> h_out_ts_group_starts;
    HostBuffer<size_t> h_out_node_ts_group_offsets;
    HostBuffer<size_t> h_in_node_offsets;
    HostBuffer<size_t> h_in_edge_indices;
    HostBuffer<size_t> h_in_ts_group_starts;
    HostBuffer<size_t> h_in_node_ts_group_offsets;
    HostBuffer<int32_t> h_active_node_flags;
    HostBuffer<size_t> h_adj_offsets;
    HostBuffer<int32_t> h_adj_neighbors;

    const int32_t* sources = nullptr;
    const int32_t* targets = nullptr;
    const int64_t* timestamps = nullptr;
    size_t num_edges = 0;
    const size_t* ts_group_offsets = nullptr;
    const int64_t* ts_group_timestamps = nullptr;
    size_t num_ts_groups = 0;
    NodeIndex outbound;
    NodeIndex inbound;
    const int32_t* active_node_flags = nullptr;
    int32_t max_node_id = -1;
    size_t num_active_nodes = 0;
    const size_t* adj_offsets = nullptr;
    const int32_t* adj_neighbors = nullptr;
    size_t adj_nnz = 0;
    int64_t latest_timestamp = -1;
    bool has_timestamp = false;
};

TemporalGraph::TemporalGraph(bool is_directed, bool use_gpu, int64_t max_time_capacity, bool enable_node2vec,
                             double node2vec_p, double node2vec_q, double timescale_bound)
    : is_directed(is_directed),
      use_gpu(use_gpu),
      max_time_capacity(max_time_capacity),
      enable_node2vec(enable_node2vec),
      node2vec_p(node2vec_p),
      node2vec_q(node2vec_q),
      timescale_bound(timescale_bound),
      // Written as "> 0" so that NaN falls back to 1 as well.
      inv_p(node2vec_p > 0 ? 1.0 / node2vec_p : 1.0),
      inv_q(node2vec_q > 0 ? 1.0 / node2vec_q : 1.0) {}

TemporalGraph::~TemporalGraph() { free_all(); }

void TemporalGraph::add_edges(const int32_t* src, const int32_t* dst, const int64_t* ts, size_t count) {
    check_node_ids(src, dst, count);

    if (use_gpu && count > 0) {
#ifdef STRELLIS_WITH_CUDA
        throw std::runtime_error(
            "add_edges: the GPU edge store is not implemented in this build yet; use use_gpu=False");
#else
        throw std::runtime_error("Strellis was built without CUDA support; use_gpu=True is not available");
#endif
    }

    last_sort_order.clear();
    last_evicted_count = 0;
    if (count == 0) return;

    add_edges_host(src, dst, ts, count);
}

void TemporalGraph::add_edges_host(const int32_t* src, const int32_t* dst, const int64_t* ts, size_t count) {
    const size_t old_count = num_edges;
    if (count > std::numeric_limits<size_t>::max() - old_count) throw std::bad_alloc();

    HostSnapshot snapshot = take_host_snapshot();
    try {
        int64_t batch_max = ts[0];
        for (size_t i = 1; i < count; ++i) batch_max = std::max(batch_max, ts[i]);
        latest_timestamp = has_timestamp ? std::max(latest_timestamp, batch_max) : batch_max;
        has_timestamp = true;

        const size_t n = old_count + count;
        HostBuffer<int32_t> new_src;
        HostBuffer<int32_t> new_dst;
        HostBuffer<int64_t> new_ts;
        new_src.allocate(n);
        new_dst.allocate(n);
        new_ts.allocate(n);
        // The stored edges are read through the view; their owners sit in the snapshot.
        copy_n_or_nothing(sources, old_count, new_src.data());
        copy_n_or_nothing(targets, old_count, new_dst.data());
        copy_n_or_nothing(timestamps, old_count, new_ts.data());
        copy_n_or_nothing(src, count, new_src.data() + old_count);
        copy_n_or_nothing(dst, count, new_dst.data() + old_count);
        copy_n_or_nothing(ts, count, new_ts.data() + old_count);
        install_host_edges(std::move(new_src), std::move(new_dst), std::move(new_ts), n);

        sort_and_merge_edges_cpu(old_count);
        if (max_time_capacity > 0) evict_old_edges_cpu();
        rebuild_index_cpu();
    } catch (...) {
        restore_host_snapshot(snapshot);
        throw;
    }
}

TemporalGraph::HostSnapshot TemporalGraph::take_host_snapshot() noexcept {
    HostSnapshot s;
    s.h_sources = std::move(h_sources);
    s.h_targets = std::move(h_targets);
    s.h_timestamps = std::move(h_timestamps);
    s.h_ts_group_offsets = std::move(h_ts_group_offsets);
    s.h_ts_group_timestamps = std::move(h_ts_group_timestamps);
    s.h_out_node_offsets = std::move(h_out_node_offsets);
    s.h_out_edge_indices = std::move(h_out_edge_indices);
    s.h_out_ts_group_starts = std::move(h_out_ts_group_starts);
    s.h_out_node_ts_group_offsets = std::move(h_out_node_ts_group_offsets);
    s.h_in_node_offsets = std::move(h_in_node_offsets);
    s.h_in_edge_indices = std::move(h_in_edge_indices);
    s.h_in_ts_group_starts = std::move(h_in_ts_group_starts);
    s.h_in_node_ts_group_offsets = std::move(h_in_node_ts_group_offsets);
    s.h_active_node_flags = std::move(h_active_node_flags);
    s.h_adj_offsets = std::move(h_adj_offsets);
    s.h_adj_neighbors = std::move(h_adj_neighbors);

    s.sources = sources;
    s.targets = targets;
    s.timestamps = timestamps;
    s.num_edges = num_edges;
    s.ts_group_offsets = ts_group_offsets;
    s.ts_group_timestamps = ts_group_timestamps;
    s.num_ts_groups = num_ts_groups;
    s.outbound = outbound;
    s.inbound = inbound;
    s.active_node_flags = active_node_flags;
    s.max_node_id = max_node_id;
    s.num_active_nodes = num_active_nodes;
    s.adj_offsets = adj_offsets;
    s.adj_neighbors = adj_neighbors;
    s.adj_nnz = adj_nnz;
    s.latest_timestamp = latest_timestamp;
    s.has_timestamp = has_timestamp;
    return s;
}

void TemporalGraph::restore_host_snapshot(HostSnapshot& s) noexcept {
    // Move assignment frees whatever the failed attempt had installed.
    h_sources = std::move(s.h_sources);
    h_targets = std::move(s.h_targets);
    h_timestamps = std::move(s.h_timestamps);
    h_ts_group_offsets = std::move(s.h_ts_group_offsets);
    h_ts_group_timestamps = std::move(s.h_ts_group_timestamps);
    h_out_node_offsets = std::move(s.h_out_node_offsets);
    h_out_edge_indices = std::move(s.h_out_edge_indices);
    h_out_ts_group_starts = std::move(s.h_out_ts_group_starts);
    h_out_node_ts_group_offsets = std::move(s.h_out_node_ts_group_offsets);
    h_in_node_offsets = std::move(s.h_in_node_offsets);
    h_in_edge_indices = std::move(s.h_in_edge_indices);
    h_in_ts_group_starts = std::move(s.h_in_ts_group_starts);
    h_in_node_ts_group_offsets = std::move(s.h_in_node_ts_group_offsets);
    h_active_node_flags = std::move(s.h_active_node_flags);
    h_adj_offsets = std::move(s.h_adj_offsets);
    h_adj_neighbors = std::move(s.h_adj_neighbors);

    sources = s.sources;
    targets = s.targets;
    timestamps = s.timestamps;
    num_edges = s.num_edges;
    ts_group_offsets = s.ts_group_offsets;
    ts_group_timestamps = s.ts_group_timestamps;
    num_ts_groups = s.num_ts_groups;
    outbound = s.outbound;
    inbound = s.inbound;
    active_node_flags = s.active_node_flags;
    max_node_id = s.max_node_id;
    num_active_nodes = s.num_active_nodes;
    adj_offsets = s.adj_offsets;
    adj_neighbors = s.adj_neighbors;
    adj_nnz = s.adj_nnz;
    latest_timestamp = s.latest_timestamp;
    has_timestamp = s.has_timestamp;

    // The records describe a call that did not happen.
    last_sort_order.clear();
    last_evicted_count = 0;
}

void TemporalGraph::install_host_edges(HostBuffer<int32_t>&& src, HostBuffer<int32_t>&& dst,
                                       HostBuffer<int64_t>&& ts, size_t n) noexcept {
    h_sources = std::move(src);
    h_targets = std::move(dst);
    h_timestamps = std::move(ts);
    sources = h_sources.data();
    targets = h_targets.data();
    timestamps = h_timestamps.data();
    num_edges = n;
}

void TemporalGraph::sort_and_merge_edges_cpu(size_t old_count) {
    const size_t n = num_edges;
    if (n < 2 || old_count >= n) return;

    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    const int64_t* t = timestamps;
    const auto earlier = [t](size_t a, size_t b) { return t[a] < t[b]; };

    // The stored run is sorted already: sort only the batch, then merge with
    // stored edges winning ties.
    const auto batch_begin = order.begin() + static_cast<std::ptrdiff_t>(old_count);
    std::stable_sort(batch_begin, order.end(), earlier);
    if (old_count > 0) std::inplace_merge(order.begin(), batch_begin, order.end(), earlier);

    bool identity = true;
    for (size_t i = 0; i < n && identity; ++i) identity = order[i] == i;
    if (!identity) {
        HostBuffer<int32_t> new_src;
        HostBuffer<int32_t> new_dst;
        HostBuffer<int64_t> new_ts;
        new_src.allocate(n);
        new_dst.allocate(n);
        new_ts.allocate(n);
        for (size_t i = 0; i < n; ++i) {
            const size_t from = order[i];
            new_src.data()[i] = sources[from];
            new_dst.data()[i] = targets[from];
            new_ts.data()[i] = timestamps[from];
        }
        install_host_edges(std::move(new_src), std::move(new_dst), std::move(new_ts), n);
    }
    last_sort_order = std::move(order);
}

void TemporalGraph::evict_old_edges_cpu() {
    if (max_time_capacity <= 0 || num_edges == 0) return;

    const int64_t cutoff = window_cutoff(latest_timestamp, max_time_capacity);
    const size_t drop = static_cast<size_t>(std::lower_bound(timestamps, timestamps + num_edges, cutoff) - timestamps);
    if (drop == 0) return;

    const size_t keep = num_edges - drop;
    HostBuffer<int32_t> new_src;
    HostBuffer<int32_t> new_dst;
    HostBuffer<int64_t> new_ts;
    new_src.allocate(keep);
    new_dst.allocate(keep);
    new_ts.allocate(keep);
    copy_n_or_nothing(sources + drop, keep, new_src.data());
    copy_n_or_nothing(targets + drop, keep, new_dst.data());
    copy_n_or_nothing(timestamps + drop, keep, new_ts.data());
    install_host_edges(std::move(new_src), std::move(new_dst), std::move(new_ts), keep);
    last_evicted_count = drop;
}

std::vector<int32_t> TemporalGraph::get_node_ids() const {
    std::vector<int32_t> ids;
    if (max_node_id < 0) return ids;
    const size_t n = static_cast<size_t>(max_node_id) + 1;

    const int32_t* flags = active_node_flags;
#ifdef STRELLIS_WITH_CUDA
    std::vector<int32_t> host_flags;
    if (use_gpu) {
        host_flags.resize(n);
        d_active_node_flags.copy_to_host(host_flags.data(), n);
        flags = host_flags.data();
    }
#endif

    ids.reserve(num_active_nodes);
    for (size_t v = 0; v < n; ++v) {
        if (flags[v] != 0) ids.push_back(static_cast<int32_t>(v));
    }
    return ids;
}

void TemporalGraph::free_index() {
    h_ts_group_offsets.reset();
    h_ts_group_timestamps.reset();
    h_out_node_offsets.reset();
    h_out_edge_indices.reset();
    h_out_ts_group_starts.reset();
    h_out_node_ts_group_offsets.reset();
    h_in_node_offsets.reset();
    h_in_edge_indices.reset();
    h_in_ts_group_starts.reset();
    h_in_node_ts_group_offsets.reset();
    h_active_node_flags.reset();
    h_adj_offsets.reset();
    h_adj_neighbors.reset();
#ifdef STRELLIS_WITH_CUDA
    d_ts_group_offsets.reset();
    d_ts_group_timestamps.reset();
    d_out_node_offsets.reset();
    d_out_edge_indices.reset();
    d_out_ts_group_starts.reset();
    d_out_node_ts_group_offsets.reset();
    d_in_node_offsets.reset();
    d_in_edge_indices.reset();
    d_in_ts_group_starts.reset();
    d_in_node_ts_group_offsets.reset();
    d_active_node_flags.reset();
    d_adj_offsets.reset();
    d_adj_neighbors.reset();
#endif

    ts_group_offsets = nullptr;
    ts_group_timestamps = nullptr;
    num_ts_groups = 0;
    outbound = NodeIndex{};
    inbound = NodeIndex{};
    active_node_flags = nullptr;
    max_node_id = -1;
    num_active_nodes = 0;
    adj_offsets = nullptr;
    adj_neighbors = nullptr;
    adj_nnz = 0;
}

void TemporalGraph::free_all() {
    free_index();
    h_sources.reset();
    h_targets.reset();
    h_timestamps.reset();
#ifdef STRELLIS_WITH_CUDA
    d_sources.reset();
    d_targets.reset();
    d_timestamps.reset();
#endif
    sources = nullptr;
    targets = nullptr;
    timestamps = nullptr;
    num_edges = 0;
    last_sort_order.clear();
    last_evicted_count = 0;
}

void TemporalGraph::clear() {
    free_all();
    latest_timestamp = -1;
    has_timestamp = false;
}

DeviceGraphView make_graph_view(const TemporalGraph& g) {
    DeviceGraphView v{};
    v.sources = g.sources;
    v.targets = g.targets;
    v.timestamps = g.timestamps;
    v.num_edges = g.num_edges;
    v.ts_group_offsets = g.ts_group_offsets;
    v.ts_group_timestamps = g.ts_group_timestamps;
    v.num_ts_groups = g.num_ts_groups;
    v.out_node_offsets = g.outbound.node_offsets;
    v.out_edge_indices = g.outbound.edge_indices;
    v.out_ts_group_starts = g.outbound.ts_group_starts;
    v.out_node_ts_group_offsets = g.outbound.node_ts_group_offsets;
    v.out_num_entries = g.outbound.num_entries;
    v.in_node_offsets = g.inbound.node_offsets;
    v.in_edge_indices = g.inbound.edge_indices;
    v.in_ts_group_starts = g.inbound.ts_group_starts;
    v.in_node_ts_group_offsets = g.inbound.node_ts_group_offsets;
    v.in_num_entries = g.inbound.num_entries;
    v.active_node_flags = g.active_node_flags;
    v.max_node_id = g.max_node_id;
    v.adj_offsets = g.adj_offsets;
    v.adj_neighbors = g.adj_neighbors;
    v.adj_nnz = g.adj_nnz;
    v.inv_p = g.inv_p;
    v.inv_q = g.inv_q;
    v.enable_node2vec = g.enable_node2vec;
    v.is_directed = g.is_directed;
    v.timescale_bound = g.timescale_bound;
    return v;
}

}  // namespace strellis
