// Host and device owners and the CUDA status check.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "cuda/device_buffer.hpp"

namespace strellis {
namespace {

struct CountdownGuard {
    explicit CountdownGuard(long k) { detail::host_alloc_countdown() = k; }
    ~CountdownGuard() { detail::host_alloc_countdown() = 0; }
};

TEST(HostBuffer, FailedAllocationKeepsOldBlock) {
    HostBuffer<int32_t> b;
    b.allocate_zeroed(4);
    ASSERT_NE(b.data(), nullptr);
    EXPECT_EQ(b.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(b.data()[i], 0);
    b.data()[2] = 42;
    const int32_t* before = b.data();
    {
        CountdownGuard fail_next(1);
        EXPECT_THROW(b.allocate(100), std::bad_alloc);
    }
    EXPECT_EQ(b.data(), before);
    EXPECT_EQ(b.size(), 4u);
    EXPECT_EQ(b.data()[2], 42);
    // A count whose byte size overflows is refused rather than wrapped.
    EXPECT_THROW(b.allocate(static_cast<size_t>(-1) / 2), std::bad_alloc);
    EXPECT_EQ(b.size(), 4u);
}

TEST(HostBuffer, ZeroCountAndMovesCallNoAllocator) {
    HostBuffer<double> b;
    b.allocate(3);
    {
        CountdownGuard fail_next(1);
        b.allocate(0);  // releases, allocates nothing
        EXPECT_EQ(detail::host_alloc_countdown(), 1);
    }
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(b.size(), 0u);
    HostBuffer<double> a;
    a.allocate(2);
    HostBuffer<double> c(std::move(a));
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.size(), 0u);
    EXPECT_EQ(c.size(), 2u);
    c = std::move(b);
    EXPECT_EQ(c.data(), nullptr);
}

#ifdef STRELLIS_WITH_CUDA
TEST(CudaCheck, MessageNamesFileLineCallAndStatus) {
    EXPECT_NO_THROW(cuda_check(cudaSuccess, "f.cu", 1, "cudaFree(p)"));
    try {
        cuda_check(cudaErrorMemoryAllocation, "core/x.cu", 17, "cudaMalloc(&data_, count * sizeof(T))");
        FAIL() << "no throw";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), std::string("CUDA error at core/x.cu:17 in cudaMalloc(&data_, count * sizeof(T)): ") +
                                             cudaGetErrorString(cudaErrorMemoryAllocation));
    }
}

TEST(DeviceBuffer, EmptyBuffersMakeNoRuntimeCall) {
    DeviceBuffer<int64_t> empty(0);
    EXPECT_EQ(empty.data(), nullptr);
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_TRUE(empty.to_host().empty());
    DeviceBuffer<int32_t> filled(0, 7);
    EXPECT_EQ(filled.data(), nullptr);
    DeviceBuffer<int32_t> moved(std::move(filled));
    EXPECT_EQ(moved.data(), nullptr);
    EXPECT_EQ(DeviceBuffer<size_t>::from_host(nullptr, 0).data(), nullptr);
}

TEST(DeviceBuffer, AllocationWithoutDeviceReportsTheCall) {
    if (cuda_device_available()) GTEST_SKIP() << "a CUDA device is present";
    try {
        DeviceBuffer<int32_t> b(16);
        FAIL() << "allocated without a device";
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("CUDA error at ", 0), 0u) << what;
        EXPECT_NE(what.find(" in cudaMalloc(&data_, count * sizeof(T)): "), std::string::npos) << what;
    }
}
#else
TEST(CudaSupport, ReportedAbsent) {
    EXPECT_FALSE(cuda_compiled());
    EXPECT_FALSE(cuda_device_available());
}
#endif

}  // namespace
}  // namespace strellis
