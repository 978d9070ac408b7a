// The _strellis extension: argument conversion and checks, walk configuration
// from keywords, and results handed over as NumPy arrays without copying.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/strellis.hpp"
#include "core/walk_config.hpp"

namespace py = pybind11;
using strellis::Strellis;

namespace {

using Int32Array = py::array_t<int32_t, py::array::c_style | py::array::forcecast>;
using Int64Array = py::array_t<int64_t, py::array::c_style | py::array::forcecast>;
using Float32Array = py::array_t<float, py::array::c_style | py::array::forcecast>;

// Moves the vector into a capsule-owned heap object and exposes its storage as
// a writable C-order array; the capsule frees it with the array.
template <typename T>
py::array adopt(std::vector<T>&& values, std::vector<py::ssize_t> shape) {
    auto owned = std::make_unique<std::vector<T>>(std::move(values));
    // An empty vector may have no storage; NumPy would then allocate its own.
    if (owned->data() == nullptr) owned->reserve(1);
    T* data = owned->data();
    py::capsule base(owned.get(), [](void* p) { delete static_cast<std::vector<T>*>(p); });
    owned.release();
    return py::array_t<T>(std::move(shape), data, base);
}

py::dict walk_dict(strellis::WalkResult&& r) {
    const auto walks = static_cast<py::ssize_t>(r.num_walks);
    const auto len = static_cast<py::ssize_t>(r.max_walk_len);
    py::dict out;
    out["nodes"] = adopt(std::move(r.nodes), {walks, len});
    out["timestamps"] = adopt(std::move(r.timestamps), {walks, len});
    out["walk_lens"] = adopt(std::move(r.walk_lens), {walks});
    const auto hops = len > 0 ? len - 1 : 0;
    if (r.has_edge_features && r.feature_dim != 0 && walks != 0 && hops != 0) {
        out["edge_features"] =
            adopt(std::move(r.edge_features), {walks, hops, static_cast<py::ssize_t>(r.feature_dim)});
    } else {
        out["edge_features"] = py::none();
    }
    return out;
}

template <typename T>
py::array copy_out(const std::vector<T>& values) {
    std::vector<T> copy(values);
    const auto n = static_cast<py::ssize_t>(copy.size());
    return adopt(std::move(copy), {n});
}

const char* const kInitDoc =
    "Create a Strellis instance.\n\nArgs:\n    is_directed: Whether the graph is directed.\n    use_gpu: Use GPU "
    "acceleration. Default False.\n    max_time_capacity: Sliding-window duration. Edges older than\n        "
    "(latest_timestamp - max_time_capacity) are evicted. -1 for no limit.\n    enable_node2vec: Enable Node2Vec "
    "structural bias. Default False.\n    node2vec_p: Node2Vec return parameter. Default 1.0.\n    node2vec_q: "
    "Node2Vec in-out parameter. Default 1.0.\n    timescale_bound: Temporal weight normalization factor. Default "
    "1.0.\n";

const char* const kAddEdgesDoc =
    "Add a batch of edges. Features are optional.\n\nfeatures, when given, must be float32 and shaped either\n"
    "[num_edges, feature_dim] (2D) or a flat [num_edges * feature_dim] (1D). The\nfirst add_edges call pins "
    "feature_dim; every subsequent call must match\n(all-with-features or all-without, same dim). Features are "
    "stored CPU-side\nand kept in sync with the edge store across sort/merge and eviction.\n";

const char* const kGetWalksDoc =
    "Generate walks starting from every active node.\n\nReturns:\n    dict with:\n      \"nodes\":         int32 "
    "[num_walks, max_walk_len]\n      \"timestamps\":    int64 [num_walks, max_walk_len]\n      \"walk_lens\":     "
    "int64 [num_walks]\n      \"edge_features\": float32 [num_walks, max_walk_len - 1, feature_dim],\n               "
    "        or None when no features are attached. Padding slots\n                       past walk_lens[w] - 1 are "
    "zero rows.\n    Unused node / timestamp positions are padded with `padding_value`\n    (default -1). Also used "
    "for the edgeless slot in each walk (position 0\n    for forward walks, position walk_lens[i]-1 for backward "
    "walks).\n";

const char* const kGetWalksForNodesDoc =
    "Generate one walk per entry in node_ids.\n\nUnused node / timestamp positions are padded with "
    "`padding_value`\n(default -1). Also used for the edgeless slot in each walk (position 0\nfor forward walks, "
    "position walk_lens[i]-1 for backward walks).\n";

const char* const kGetWalksForLastBatchDoc =
    "Generate walks starting from the nodes in the most recent\nadd_edges call.\n\nFor directed graphs the start "
    "set is the unique sources of the last batch for\nforward walks and the unique targets for backward walks. For "
    "undirected graphs\nthe start set is the union of both. Returns the same dict as get_walks.\n\nUnused node / "
    "timestamp positions are padded with `padding_value`\n(default -1). Also used for the edgeless slot in each "
    "walk (position 0\nfor forward walks, position walk_lens[i]-1 for backward walks).\n";

const char* const kGetWalksGlobalDoc =
    "Generate `num_walks_total` walks whose start edges are sampled\nfrom the entire graph according to "
    "`start_bias`. Start nodes emerge\nfrom the edge-level sampling distribution \u2014 no uniform node "
    "coverage.\n";

void add_edges(Strellis& self, const Int32Array& sources, const Int32Array& targets, const Int64Array& timestamps,
               const py::object& features) {
    if (sources.ndim() != 1 || targets.ndim() != 1 || timestamps.ndim() != 1) {
        throw std::runtime_error("All arrays must be 1-dimensional");
    }
    const py::ssize_t n = sources.shape(0);
    if (targets.shape(0) != n || timestamps.shape(0) != n) {
        throw std::runtime_error("sources, targets, and timestamps must have the same length");
    }
    const auto count = static_cast<size_t>(n);
    if (features.is_none()) {
        self.add_edges(sources.data(), targets.data(), timestamps.data(), count);
        return;
    }
    const Float32Array feats(features);  // NumPy's own error if it cannot convert
    size_t width = 0;
    if (feats.ndim() == 2) {
        if (feats.shape(0) != n) throw std::runtime_error("features row count must match edge count");
        width = static_cast<size_t>(feats.shape(1));
    } else if (feats.ndim() == 1) {
        if (n != 0) {
            if (feats.shape(0) % n != 0) {
                throw std::runtime_error("1D features length must be a multiple of edge count");
            }
            width = static_cast<size_t>(feats.shape(0) / n);
        }
    } else {
        throw std::runtime_error("features must be 1D or 2D");
    }
    self.add_edges(sources.data(), targets.data(), timestamps.data(), count, feats.data(), width);
}

// get_walks and get_walks_for_last_batch: same keywords, different start lists.
template <strellis::WalkResult (Strellis::*Request)(const strellis::WalkConfig&) const>
py::dict per_node_walks(const Strellis& self, int32_t max_walk_len, int32_t num_walks_per_node,
                        const std::string& walk_bias, const std::string& direction, const std::string& start_bias,
                        const std::string& kernel_mode, uint64_t seed, bool shuffle_walks, int32_t padding_value) {
    const strellis::WalkConfig config = strellis::make_walk_config(
        max_walk_len, num_walks_per_node, walk_bias, direction, start_bias, kernel_mode, seed, shuffle_walks,
        padding_value);
    return walk_dict((self.*Request)(config));
}

}  // namespace

PYBIND11_MODULE(_strellis, m) {
    m.doc() = "Strellis: GPU-accelerated streaming temporal random walks";

    py::class_<Strellis, std::unique_ptr<Strellis>>(m, "Strellis")
        .def(py::init<bool, bool, int64_t, bool, double, double, double>(), py::arg("is_directed"),
             py::arg("use_gpu") = false, py::arg("max_time_capacity") = int64_t{-1},
             py::arg("enable_node2vec") = false, py::arg("node2vec_p") = 1.0, py::arg("node2vec_q") = 1.0,
             py::arg("timescale_bound") = 1.0, kInitDoc)
        .def("add_edges", &add_edges, py::arg("sources"), py::arg("targets"), py::arg("timestamps"),
             py::arg("features") = py::none(), kAddEdgesDoc)
        .def("get_walks", &per_node_walks<&Strellis::get_walks>,
            py::arg("max_walk_len") = 10, py::arg("num_walks_per_node") = 1, py::arg("walk_bias") = "Uniform",
            py::arg("direction") = "Forward", py::arg("start_bias") = "Uniform",
            py::arg("kernel_mode") = "NodeGrouped", py::arg("seed") = uint64_t{0}, py::arg("shuffle_walks") = true,
            py::arg("padding_value") = -1, kGetWalksDoc)
        .def(
            "get_walks_for_nodes",
            [](const Strellis& self, const Int32Array& node_ids, int32_t max_walk_len, const std::string& walk_bias,
               const std::string& direction, const std::string& start_bias, const std::string& kernel_mode,
               uint64_t seed, bool shuffle_walks, int32_t padding_value) {
                if (node_ids.ndim() != 1) throw std::runtime_error("node_ids must be 1-dimensional");
                const strellis::WalkConfig config = strellis::make_walk_config(
                    max_walk_len, 1, walk_bias, direction, start_bias, kernel_mode, seed, shuffle_walks,
                    padding_value);
                return walk_dict(
                    self.get_walks_for_nodes(node_ids.data(), static_cast<size_t>(node_ids.shape(0)), config));
            },
            py::arg("node_ids"), py::arg("max_walk_len") = 10, py::arg("walk_bias") = "Uniform",
            py::arg("direction") = "Forward", py::arg("start_bias") = "Uniform",
            py::arg("kernel_mode") = "NodeGrouped", py::arg("seed") = uint64_t{0}, py::arg("shuffle_walks") = true,
            py::arg("padding_value") = -1, kGetWalksForNodesDoc)
        .def("get_walks_for_last_batch", &per_node_walks<&Strellis::get_walks_for_last_batch>,
            py::arg("max_walk_len") = 10, py::arg("num_walks_per_node") = 1, py::arg("walk_bias") = "Uniform",
            py::arg("direction") = "Forward", py::arg("start_bias") = "Uniform",
            py::arg("kernel_mode") = "NodeGrouped", py::arg("seed") = uint64_t{0}, py::arg("shuffle_walks") = true,
            py::arg("padding_value") = -1, kGetWalksForLastBatchDoc)
        .def(
            "get_walks_global",
            [](const Strellis& self, int32_t num_walks_total, int32_t max_walk_len, const std::string& walk_bias,
               const std::string& direction, const std::string& start_bias, const std::string& kernel_mode,
               uint64_t seed, bool shuffle_walks, int32_t padding_value) {
                strellis::WalkConfig config = strellis::make_walk_config(
                    max_walk_len, 1, walk_bias, direction, start_bias, kernel_mode, seed, shuffle_walks,
                    padding_value);
                config.num_walks_total = num_walks_total;
                return walk_dict(self.get_walks_global(config));
            },
            py::arg("num_walks_total"), py::arg("max_walk_len") = 10, py::arg("walk_bias") = "Uniform",
            py::arg("direction") = "Forward", py::arg("start_bias") = "Uniform",
            py::arg("kernel_mode") = "NodeGrouped", py::arg("seed") = uint64_t{0}, py::arg("shuffle_walks") = true,
            py::arg("padding_value") = -1, kGetWalksGlobalDoc)
        .def(
            "get_node_ids",
            [](const Strellis& self) {
                std::vector<int32_t> ids = self.get_node_ids();
                const auto n = static_cast<py::ssize_t>(ids.size());
                return adopt(std::move(ids), {n});
            },
            "Return a numpy array of active node IDs.")
        .def(
            "get_edges",
            [](const Strellis& self) {
                strellis::EdgeArrays e = self.get_edges();
                const auto n = static_cast<py::ssize_t>(e.sources.size());
                py::dict out;
                out["sources"] = adopt(std::move(e.sources), {n});
                out["targets"] = adopt(std::move(e.targets), {n});
                out["timestamps"] = adopt(std::move(e.timestamps), {n});
                return out;
            },
            "Return a dict of edge arrays: {sources, targets, timestamps}.")
        .def("edge_count", &Strellis::edge_count, "Number of edges in the active window.")
        .def("node_count", &Strellis::node_count, "Number of active nodes.")
        .def("clear", &Strellis::clear, "Clear the graph, feature matrix, and last-batch tracking.")
        .def_property_readonly("feature_dim", &Strellis::feature_dim)
        .def_property_readonly("is_directed", &Strellis::is_directed)
        .def_property_readonly("use_gpu", &Strellis::use_gpu)
        .def_property_readonly("max_time_capacity", &Strellis::max_time_capacity)
        .def_property_readonly("enable_node2vec", &Strellis::enable_node2vec)
        .def_property_readonly("last_batch_sources",
                               [](const Strellis& self) { return copy_out(self.last_batch_sources()); })
        .def_property_readonly("last_batch_targets",
                               [](const Strellis& self) { return copy_out(self.last_batch_targets()); });
}
