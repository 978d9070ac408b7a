// The object callers hold: a windowed temporal graph, its edge features kept
// row-aligned with the store, the last batch's node sets and the walk requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/graph/graph.hpp"
#include "core/walk_config.hpp"
#include "cuda/device_buffer.hpp"

namespace strellis {

/// Answer of every walk request. edge_features holds
/// num_walks x (max_walk_len - 1) x feature_dim floats when has_edge_features.
struct WalkResult {
    std::vector<int32_t> nodes;
    std::vector<int64_t> timestamps;
    std::vector<int64_t> walk_lens;
    std::vector<float> edge_features;
    size_t num_walks = 0;
    size_t max_walk_len = 0;
    size_t feature_dim = 0;
    bool has_edge_features = false;
};

/// The active edges in store order (ascending time).
struct EdgeArrays {
    std::vector<int32_t> sources;
    std::vector<int32_t> targets;
    std::vector<int64_t> timestamps;
};

class Strellis {
public:
    /// Allocates nothing and touches no device, also with use_gpu.
    Strellis(bool is_directed, bool use_gpu, int64_t max_time_capacity, bool enable_node2vec, double node2vec_p,
             double node2vec_q, double timescale_bound);
    ~Strellis() = default;
    Strellis(const Strellis&) = delete;
    Strellis& operator=(const Strellis&) = delete;

    void add_edges(const int32_t* sources, const int32_t* targets, const int64_t* timestamps, size_t num_edges);
    /// features: num_edges x feature_dim floats, row-major, or null. A null
    /// pointer or a zero width is a batch without features. If anything throws,
    /// store, feature matrix and last-batch sets are left as they were.
    void add_edges(const int32_t* sources, const int32_t* targets, const int64_t* timestamps, size_t num_edges,
                   const float* features, size_t feature_dim);

    void clear();

    size_t edge_count() const noexcept { return graph_.num_edges; }
    size_t node_count() const noexcept { return graph_.num_active_nodes; }
    std::vector<int32_t> get_node_ids() const { return graph_.get_node_ids(); }
    EdgeArrays get_edges() const;

    bool is_directed() const noexcept { return graph_.is_directed; }
    bool use_gpu() const noexcept { return graph_.use_gpu; }
    bool enable_node2vec() const noexcept { return graph_.enable_node2vec; }
    int64_t max_time_capacity() const noexcept { return graph_.max_time_capacity; }
    size_t feature_dim() const noexcept { return feature_dim_; }
    const std::vector<int32_t>& last_batch_sources() const noexcept { return last_batch_sources_; }
    const std::vector<int32_t>& last_batch_targets() const noexcept { return last_batch_targets_; }

    /// The feature matrix (edge_count() x feature_dim() floats, row r for edge r),
    /// or null when none is stored.
    const float* features() const noexcept { return features_ptr_; }

    /// Walks from every active node, num_walks_per_node (at least 1) each, node-major.
    WalkResult get_walks(const WalkConfig& config) const;
    /// Walks from the nodes of the most recent non-empty batch.
    WalkResult get_walks_for_last_batch(const WalkConfig& config) const;
    /// num_walks_total walks whose start edges are sampled from the whole graph.
    WalkResult get_walks_global(const WalkConfig& config) const;
    /// One walk per entry; -1 asks for a start edge sampled from the whole graph.
    WalkResult get_walks_for_nodes(const int32_t* start_nodes, size_t num_starts, const WalkConfig& config) const;

    /// Moves the walk buffers into a WalkResult and gathers the feature rows of
    /// the traversed edges when features are stored.
    WalkResult build_walk_output(InternalWalkResult&& raw) const;

private:
    /// Fills dst with the rows of the edges now in the store, taken from the
    /// pre-sort sequence (old matrix rows, then the batch rows) by way of the
    /// store's last sort order and eviction count. Never throws.
    void sync_edge_features(float* dst, size_t dim, size_t old_count, const float* batch_features) const noexcept;
    InternalWalkResult generate_walks_gpu(const int32_t* start_nodes, size_t num_starts,
                                          const WalkConfig& config) const;
    WalkResult walks_from_repeated(const std::vector<int32_t>& ids, const WalkConfig& config) const;

    TemporalGraph graph_;
    HostBuffer<float> features_;
    const float* features_ptr_ = nullptr;
    size_t feature_dim_ = 0;
    std::vector<int32_t> last_batch_sources_;
    std::vector<int32_t> last_batch_targets_;
};

}  // namespace strellis
