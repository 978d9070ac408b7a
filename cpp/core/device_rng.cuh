// Per-walk counter-based random stream on the device (nvcc only).
#pragma once

#include <curand_kernel.h>

#include <cstdint>

#include "core/pickers.hpp"

namespace strellis {

/// Philox4x32-10 stream of one walk: subsequence = the walk's row, offset 0.
struct PhiloxWalkRng {
    curandStatePhilox4_32_10_t state;
    __device__ PhiloxWalkRng(uint64_t seed, uint64_t walk) { curand_init(seed, walk, 0, &state); }
    __device__ double next() { return device_uniform(curand(&state)); }
};

}  // namespace strellis
