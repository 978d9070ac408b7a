// Marks functions that run on both host and device; empty in host-only builds.
#pragma once

#if defined(__CUDACC__)
#define STRELLIS_HD __host__ __device__
#else
#define STRELLIS_HD
#endif
