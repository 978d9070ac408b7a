// Walk generation on the host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/graph/graph.hpp"
#include "core/walk_config.hpp"

namespace strellis {

/// One walk per start entry (a node id, or -1 for a start edge sampled from the
/// whole graph). Row w belongs to the w-th entry of the (possibly shuffled) list.
InternalWalkResult generate_walks_cpu(const TemporalGraph& graph, const int32_t* start_nodes, size_t n,
                                      const WalkConfig& config);

}  // namespace strellis
