// Small helpers shared by the C++ tests that build graphs edge by edge.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "core/graph/graph.hpp"

namespace strellis::test {

struct Edge {
    int32_t src;
    int32_t dst;
    int64_t ts;
};

inline bool operator==(const Edge& a, const Edge& b) { return a.src == b.src && a.dst == b.dst && a.ts == b.ts; }

inline std::ostream& operator<<(std::ostream& os, const Edge& e) {
    return os << "(" << e.src << "->" << e.dst << " @" << e.ts << ")";
}

/// Adds one batch given as edge triples.
inline void add(TemporalGraph& g, const std::vector<Edge>& batch) {
    std::vector<int32_t> s, d;
    std::vector<int64_t> t;
    for (const Edge& e : batch) {
        s.push_back(e.src);
        d.push_back(e.dst);
        t.push_back(e.ts);
    }
    g.add_edges(s.data(), d.data(), t.data(), batch.size());
}

/// Copies n elements, or nothing from a null array.
template <typename T>
std::vector<T> vec(const T* p, size_t n) {
    return p == nullptr ? std::vector<T>() : std::vector<T>(p, p + n);
}

/// A direction that was not built: no arrays, no entries.
inline void expect_no_index(const NodeIndex& ix) {
    EXPECT_EQ(ix.node_offsets, nullptr);
    EXPECT_EQ(ix.edge_indices, nullptr);
    EXPECT_EQ(ix.ts_group_starts, nullptr);
    EXPECT_EQ(ix.node_ts_group_offsets, nullptr);
    EXPECT_EQ(ix.num_entries, 0u);
    EXPECT_EQ(ix.num_groups, 0u);
}

/// A graph without edges holds no arrays and reports no nodes.
inline void expect_empty_arrays(const TemporalGraph& g) {
    EXPECT_EQ(g.num_edges, 0u);
    EXPECT_EQ(g.sources, nullptr);
    EXPECT_EQ(g.targets, nullptr);
    EXPECT_EQ(g.timestamps, nullptr);
    EXPECT_EQ(g.max_node_id, -1);
    EXPECT_EQ(g.num_active_nodes, 0u);
    EXPECT_EQ(g.num_ts_groups, 0u);
    EXPECT_EQ(g.ts_group_offsets, nullptr);
    EXPECT_EQ(g.ts_group_timestamps, nullptr);
    EXPECT_EQ(g.active_node_flags, nullptr);
    EXPECT_EQ(g.outbound.node_offsets, nullptr);
    EXPECT_EQ(g.outbound.edge_indices, nullptr);
    EXPECT_EQ(g.outbound.num_entries, 0u);
    EXPECT_EQ(g.inbound.node_offsets, nullptr);
    EXPECT_EQ(g.adj_offsets, nullptr);
    EXPECT_EQ(g.adj_neighbors, nullptr);
    EXPECT_TRUE(g.get_node_ids().empty());
}

}  // namespace strellis::test
