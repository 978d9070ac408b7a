#include "core/strellis.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "core/host_walks.hpp"

namespace strellis {

namespace {

std::vector<int32_t> distinct_sorted(const int32_t* ids, size_t n) {
    std::vector<int32_t> out(ids, ids + n);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace

Strellis::Strellis(bool is_directed, bool use_gpu, int64_t max_time_capacity, bool enable_node2vec,
                   double node2vec_p, double node2vec_q, double timescale_bound)
    : graph_(is_directed, use_gpu, max_time_capacity, enable_node2vec, node2vec_p, node2vec_q, timescale_bound) {}

void Strellis::add_edges(const int32_t* sources, const int32_t* targets, const int64_t* timestamps,
                         size_t num_edges) {
    add_edges(sources, targets, timestamps, num_edges, nullptr, 0);
}

void Strellis::add_edges(const int32_t* sources, const int32_t* targets, const int64_t* timestamps,
                         size_t num_edges, const float* features, size_t feature_dim) {
    if (num_edges == 0) return;

    const bool with_features = features != nullptr && feature_dim != 0;
    if (with_features) {
        if (feature_dim_ != 0 && feature_dim_ != feature_dim) {
            throw std::runtime_error("add_edges: feature_dim mismatch with previously stored features");
        }
        if (feature_dim_ == 0 && edge_count() > 0) {
            throw std::runtime_error(
                "add_edges: features cannot be introduced mid-stream; either pass features from the very first "
                "add_edges call or none at all");
        }
    } else if (feature_dim_ != 0) {
        throw std::runtime_error(
            "add_edges: graph already has edge features; every add_edges call must provide features of the same "
            "dimension");
    }
    check_node_ids(sources, targets, num_edges);

    // Everything that can fail is prepared before the store changes, so a
    // failure leaves store, matrix and last-batch sets as they were.
    std::vector<int32_t> batch_sources = distinct_sorted(sources, num_edges);
    std::vector<int32_t> batch_targets = distinct_sorted(targets, num_edges);

    const size_t old_count = edge_count();
    HostBuffer<float> grown;
    if (with_features) {
        const size_t rows = old_count + num_edges;
        if (feature_dim > std::numeric_limits<size_t>::max() / rows) throw std::bad_alloc();
        grown.allocate(rows * feature_dim);
    }

    graph_.add_edges(sources, targets, timestamps, num_edges);  // unchanged if it throws

    if (with_features) {
        const size_t m = edge_count();
        if (m == 0) {
            // Every edge left the window: no rows to keep, the width stays pinned.
            features_.reset();
        } else {
            sync_edge_features(grown.data(), feature_dim, old_count, features);
            if (m < old_count + num_edges) {
                // Give back the rows of evicted edges when memory allows; the
                // larger block is still correct, its tail is never read.
                try {
                    HostBuffer<float> exact;
                    exact.allocate(m * feature_dim);
                    std::memcpy(exact.data(), grown.data(), m * feature_dim * sizeof(float));
                    grown = std::move(exact);
                } catch (const std::bad_alloc&) {
                }
            }
            features_ = std::move(grown);
        }
        features_ptr_ = features_.data();
        feature_dim_ = feature_dim;
    }
    last_batch_sources_.swap(batch_sources);
    last_batch_targets_.swap(batch_targets);
}

void Strellis::sync_edge_features(float* dst, size_t dim, size_t old_count,
                                  const float* batch_features) const noexcept {
    // Pre-sort sequence: the old_count stored rows, then the batch rows. New row
    // i is entry i + k of that sequence after sorting, k edges having been
    // evicted from the front; an empty sort order is the identity.
    const std::vector<size_t>& order = graph_.last_sort_order;
    const size_t k = graph_.last_evicted_count;
    const size_t m = edge_count();
    const size_t row_bytes = dim * sizeof(float);
    for (size_t i = 0; i < m; ++i) {
        const size_t p = order.empty() ? i + k : order[i + k];
        const float* row = p < old_count ? features_ptr_ + p * dim : batch_features + (p - old_count) * dim;
        std::memcpy(dst + i * dim, row, row_bytes);
    }
}

void Strellis::clear() {
    graph_.clear();
    features_.reset();
    features_ptr_ = nullptr;
    feature_dim_ = 0;
    last_batch_sources_.clear();
    last_batch_targets_.clear();
}

EdgeArrays Strellis::get_edges() const {
    EdgeArrays out;
    const size_t m = edge_count();
    if (m == 0) return out;
    out.sources.resize(m);
    out.targets.resize(m);
    out.timestamps.resize(m);
    if (graph_.use_gpu) {
#ifdef STRELLIS_WITH_CUDA
        STRELLIS_CUDA_CHECK(cudaMemcpy(out.sources.data(), graph_.sources, m * sizeof(int), cudaMemcpyDeviceToHost));
        STRELLIS_CUDA_CHECK(cudaMemcpy(out.targets.data(), graph_.targets, m * sizeof(int), cudaMemcpyDeviceToHost));
        STRELLIS_CUDA_CHECK(
            cudaMemcpy(out.timestamps.data(), graph_.timestamps, m * sizeof(int64_t), cudaMemcpyDeviceToHost));
        return out;
#else
        throw std::runtime_error("Strellis was built without CUDA support; use_gpu=True is not available");
#endif
    }
    std::memcpy(out.sources.data(), graph_.sources, m * sizeof(int32_t));
    std::memcpy(out.targets.data(), graph_.targets, m * sizeof(int32_t));
    std::memcpy(out.timestamps.data(), graph_.timestamps, m * sizeof(int64_t));
    return out;
}

WalkResult Strellis::walks_from_repeated(const std::vector<int32_t>& ids, const WalkConfig& config) const {
    const size_t k = static_cast<size_t>(std::max(config.num_walks_per_node, 1));
    std::vector<int32_t> starts;
    starts.reserve(k * ids.size());
    for (const int32_t id : ids) starts.insert(starts.end(), k, id);
    return get_walks_for_nodes(starts.data(), starts.size(), config);
}

WalkResult Strellis::get_walks(const WalkConfig& config) const {
    if (config.max_walk_len <= 0) return WalkResult{};
    const std::vector<int32_t> ids = graph_.get_node_ids();
    if (ids.empty()) return WalkResult{};
    return walks_from_repeated(ids, config);
}

WalkResult Strellis::get_walks_for_last_batch(const WalkConfig& config) const {
    if (graph_.is_directed) {
        const std::vector<int32_t>& ids =
            config.direction == Backward_In_Time ? last_batch_targets_ : last_batch_sources_;
        if (ids.empty()) return WalkResult{};
        return walks_from_repeated(ids, config);
    }
    std::vector<int32_t> ids;
    ids.reserve(last_batch_sources_.size() + last_batch_targets_.size());
    std::set_union(last_batch_sources_.begin(), last_batch_sources_.end(), last_batch_targets_.begin(),
                   last_batch_targets_.end(), std::back_inserter(ids));
    if (ids.empty()) return WalkResult{};
    return walks_from_repeated(ids, config);
}

WalkResult Strellis::get_walks_global(const WalkConfig& config) const {
    if (config.max_walk_len <= 0 || config.num_walks_total <= 0 || edge_count() == 0) return WalkResult{};
    const std::vector<int32_t> starts(static_cast<size_t>(config.num_walks_total), -1);
    return get_walks_for_nodes(starts.data(), starts.size(), config);
}

WalkResult Strellis::get_walks_for_nodes(const int32_t* start_nodes, size_t num_starts,
                                         const WalkConfig& config) const {
    InternalWalkResult raw;
    if (num_starts != 0 && config.max_walk_len > 0) {
        raw = graph_.use_gpu ? generate_walks_gpu(start_nodes, num_starts, config)
                             : generate_walks_cpu(graph_, start_nodes, num_starts, config);
    }
    return build_walk_output(std::move(raw));
}

InternalWalkResult Strellis::generate_walks_gpu(const int32_t* /*start_nodes*/, size_t /*num_starts*/,
                                                const WalkConfig& /*config*/) const {
    // FullWalk and NodeGrouped both land here until the device generators exist.
#ifdef STRELLIS_WITH_CUDA
    throw std::runtime_error("GPU walk generation is not implemented in this build yet; use use_gpu=False");
#else
    throw std::runtime_error("Strellis was built without CUDA support; use_gpu=True is not available");
#endif
}

WalkResult Strellis::build_walk_output(InternalWalkResult&& raw) const {
    WalkResult out;
    out.nodes = std::move(raw.nodes);
    out.timestamps = std::move(raw.timestamps);
    out.walk_lens = std::move(raw.walk_lens);
    out.num_walks = raw.num_walks;
    out.max_walk_len = raw.max_walk_len;

    const size_t hops = raw.max_walk_len > 0 ? raw.max_walk_len - 1 : 0;
    if (feature_dim_ == 0 || features_ptr_ == nullptr || hops == 0 || raw.num_walks == 0) return out;

    const size_t d = feature_dim_;
    const size_t m = edge_count();
    const size_t entries = raw.num_walks * hops;
    out.feature_dim = d;
    out.has_edge_features = true;
    out.edge_features.assign(entries * d, 0.0f);
    for (size_t i = 0; i < entries; ++i) {
        const int64_t e = raw.edge_ids[i];
        if (e < 0 || static_cast<uint64_t>(e) >= m) continue;  // no edge: the row stays zero
        std::memcpy(out.edge_features.data() + i * d, features_ptr_ + static_cast<size_t>(e) * d,
                    d * sizeof(float));
    }
    return out;
}

}  // namespace strellis
