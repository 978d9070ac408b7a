#include "core/random.hpp"

#include <algorithm>
#include <random>

namespace strellis {

uint64_t random_seed() {
    std::random_device rd("default");
    const uint64_t a = rd();
    const uint64_t b = rd();
    return (a << 32) | (b & 0xffffffffULL);
}

void shuffle_start_list_host(int32_t* starts, size_t n, uint64_t seed) {
    std::mt19937 engine(static_cast<uint32_t>(seed) ^ 0x7f4a7c15U);
    std::shuffle(starts, starts + n, engine);
}

}  // namespace strellis
