// Owning arrays in host and device memory, and the CUDA status check.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#ifdef STRELLIS_WITH_CUDA
#include <cuda_runtime.h>
#endif

namespace strellis {

namespace detail {
#ifdef STRELLIS_FAULT_INJECTION
// Test builds only: when positive, the countdown-th host allocation from now fails.
inline long& host_alloc_countdown() {
    static long countdown = 0;
    return countdown;
}
#endif

inline void* host_alloc(std::size_t count, std::size_t elem, bool zeroed) {
    if (count > static_cast<std::size_t>(-1) / elem) return nullptr;
#ifdef STRELLIS_FAULT_INJECTION
    long& c = host_alloc_countdown();
    if (c > 0 && --c == 0) return nullptr;
#endif
    return zeroed ? std::calloc(count * elem, 1) : std::malloc(count * elem);
}
}  // namespace detail

/// Owning, move-only host array from malloc/calloc. Replacing the storage
/// obtains the new block before freeing the old one.
template <typename T>
class HostBuffer {
public:
    HostBuffer() = default;
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;
    HostBuffer(HostBuffer&& o) noexcept : data_(o.data_), size_(o.size_) {
        o.data_ = nullptr;
        o.size_ = 0;
    }
    HostBuffer& operator=(HostBuffer&& o) noexcept {
        if (this != &o) {
            std::free(data_);
            data_ = o.data_;
            size_ = o.size_;
            o.data_ = nullptr;
            o.size_ = 0;
        }
        return *this;
    }
    ~HostBuffer() { std::free(data_); }

    /// n elements, contents undefined. Throws std::bad_alloc, keeping the old block.
    void allocate(std::size_t n) { replace(n, false); }
    /// n zeroed elements. Throws std::bad_alloc, keeping the old block.
    void allocate_zeroed(std::size_t n) { replace(n, true); }
    void reset() noexcept {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
    }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

private:
    void replace(std::size_t n, bool zeroed) {
        if (n == 0) {
            reset();
            return;
        }
        void* p = detail::host_alloc(n, sizeof(T), zeroed);
        if (p == nullptr) throw std::bad_alloc();
        std::free(data_);
        data_ = static_cast<T*>(p);
        size_ = n;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
};

#ifdef STRELLIS_WITH_CUDA

/// Throws std::runtime_error "CUDA error at FILE:LINE in CALL: DESCRIPTION"
/// unless status is cudaSuccess.
void cuda_check(cudaError_t status, const char* file, int line, const char* call);

#define STRELLIS_CUDA_CHECK(call) ::strellis::cuda_check((call), __FILE__, __LINE__, #call)

/// Owning, move-only array in device memory, allocated to an exact count.
template <typename T>
class DeviceBuffer {
public:
    DeviceBuffer() = default;
    explicit DeviceBuffer(std::size_t count) : size_(count) {
        if (count > 0) {
            STRELLIS_CUDA_CHECK(cudaMalloc(&data_, count * sizeof(T)));
        }
    }
    DeviceBuffer(std::size_t count, const T& value) : DeviceBuffer(count) {
        if (count > 0) {
            std::vector<T> host(count, value);
            STRELLIS_CUDA_CHECK(cudaMemcpy(data_, host.data(), count * sizeof(T), cudaMemcpyHostToDevice));
        }
    }
    DeviceBuffer(const DeviceBuffer&) = delete;
    DeviceBuffer& operator=(const DeviceBuffer&) = delete;
    DeviceBuffer(DeviceBuffer&& o) noexcept : data_(o.data_), size_(o.size_) {
        o.data_ = nullptr;
        o.size_ = 0;
    }
    DeviceBuffer& operator=(DeviceBuffer&& o) noexcept {
        if (this != &o) {
            reset();
            data_ = o.data_;
            size_ = o.size_;
            o.data_ = nullptr;
            o.size_ = 0;
        }
        return *this;
    }
    ~DeviceBuffer() { reset(); }

    static DeviceBuffer from_host(const T* src, std::size_t count) {
        DeviceBuffer buf(count);
        if (count > 0) {
            STRELLIS_CUDA_CHECK(cudaMemcpy(buf.data_, src, count * sizeof(T), cudaMemcpyHostToDevice));
        }
        return buf;
    }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

    void copy_to_host(T* dst, std::size_t count) const {
        STRELLIS_CUDA_CHECK(cudaMemcpy(dst, data_, count * sizeof(T), cudaMemcpyDeviceToHost));
    }
    void copy_from_device(const T* src, std::size_t count) {
        STRELLIS_CUDA_CHECK(cudaMemcpy(data_, src, count * sizeof(T), cudaMemcpyDeviceToDevice));
    }
    std::vector<T> to_host() const {
        std::vector<T> host(size_);
        if (size_ > 0) {
            STRELLIS_CUDA_CHECK(cudaMemcpy(host.data(), data_, size_ * sizeof(T), cudaMemcpyDeviceToHost));
        }
        return host;
    }
    // Release never throws: the status of cudaFree is ignored.
    void reset() noexcept {
        if (data_ != nullptr) (void)cudaFree(data_);
        data_ = nullptr;
        size_ = 0;
    }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

#endif  // STRELLIS_WITH_CUDA

/// Whether this build includes CUDA support.
constexpr bool cuda_compiled() noexcept {
#ifdef STRELLIS_WITH_CUDA
    return true;
#else
    return false;
#endif
}

/// Whether a usable CUDA device is present (always false without CUDA).
bool cuda_device_available() noexcept;

}  // namespace strellis
