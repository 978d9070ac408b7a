// Compiles the shared walk body for the device with nvcc (warnings are errors),
// so host-only constructs cannot creep into it. Nothing here runs.
#include "core/device_rng.cuh"
#include "core/graph_view.hpp"
#include "core/walk.hpp"

namespace strellis {

__global__ void compile_check_walk_kernel(DeviceGraphView view, const int32_t* starts, int32_t* nodes,
                                          int64_t* timestamps, int64_t* edge_ids, int64_t* walk_lens, size_t n,
                                          WalkParams params, uint64_t seed) {
    const size_t w = static_cast<size_t>(blockIdx.x) * blockDim.x + threadIdx.x;
    if (w >= n || params.max_walk_len < 2) return;
    const size_t len = static_cast<size_t>(params.max_walk_len);
    PhiloxWalkRng rng(seed, w);
    walk_lens[w] = generate_walk(view, walk_index(view, params.forward), starts[w], params, rng,
                                 nodes + w * len, timestamps + w * len, edge_ids + w * (len - 1));
}

}  // namespace strellis
