// Seeds and host random sources of walk requests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/hd.hpp"

namespace strellis {

/// A fresh 64-bit seed from the system random device.
uint64_t random_seed();

/// The request seed: `seed`, or a fresh one when it is 0.
inline uint64_t resolve_seed(uint64_t seed) { return seed != 0 ? seed : random_seed(); }

/// Seed of the host generator of walk (output row) w.
STRELLIS_HD inline uint64_t walk_engine_seed(uint64_t seed, uint64_t w) {
    return seed ^ (0x9e3779b97f4a7c15ULL + w * 0x9e3779b1ULL);
}

/// Uniform in-place shuffle of a start list, driven only by the seed.
void shuffle_start_list_host(int32_t* starts, size_t n, uint64_t seed);

}  // namespace strellis
