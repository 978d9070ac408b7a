// Small helpers shared by the C++ tests that build graphs edge by edge.
#pragma once

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

}  // namespace strellis::test
