#include "cuda/device_buffer.hpp"

#include <stdexcept>
#include <string>

namespace strellis {

#ifdef STRELLIS_WITH_CUDA
void cuda_check(cudaError_t status, const char* file, int line, const char* call) {
    if (status == cudaSuccess) return;
    throw std::runtime_error(std::string("CUDA error at ") + file + ":" + std::to_string(line) + " in " + call +
                             ": " + cudaGetErrorString(status));
}

bool cuda_device_available() noexcept {
    int count = 0;
    if (cudaGetDeviceCount(&count) != cudaSuccess) {
        (void)cudaGetLastError();  // clear the sticky probe error
        return false;
    }
    return count > 0;
}
#else
bool cuda_device_available() noexcept { return false; }
#endif

}  // namespace strellis
