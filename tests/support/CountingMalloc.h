// Counts the bytes malloc hands out and their high-water mark, for the decoders' memory
// checks; under a MallocCeiling, malloc (and so new) fails beyond a number of live bytes. It
// replaces malloc for the whole program: include it in one source file of a test program only.
// Under AddressSanitizer, which owns malloc, KX_COUNTING_MALLOC is 0.
#pragma once

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define KX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KX_SANITIZED 1
#endif
#endif

#ifdef KX_SANITIZED
#define KX_COUNTING_MALLOC 0
// The sanitizer owns malloc: nothing is counted, and the tests that need the
// counts skip themselves.
namespace kxtest {
inline int64_t LiveBytes() { return 0; }
inline int64_t PeakBytes() { return 0; }
inline void ResetPeak() {}
}  // namespace kxtest
#else
#define KX_COUNTING_MALLOC 1
namespace kxtest {
inline std::atomic<int64_t> liveBytes{0}, peakBytes{0}, ceilingBytes{INT64_MAX};
inline void* Counted(void* p)
{
    const int64_t now = liveBytes += p != nullptr ? static_cast<int64_t>(malloc_usable_size(p)) : 0;
    for (int64_t peak = peakBytes.load(); now > peak && !peakBytes.compare_exchange_weak(peak, now);) {}
    return p;
}
inline void Uncounted(void* p)
{
    liveBytes -= p != nullptr ? static_cast<int64_t>(malloc_usable_size(p)) : 0;
}
inline int64_t LiveBytes() { return liveBytes.load(); }  // handed out and not taken back
inline int64_t PeakBytes() { return peakBytes.load(); }
inline void ResetPeak() { peakBytes = liveBytes.load(); }
// While it lives, allocations fail once `extra` more bytes than now are live.
struct MallocCeiling {
    explicit MallocCeiling(int64_t extra) { ceilingBytes = liveBytes.load() + extra; }
    ~MallocCeiling() { ceilingBytes = INT64_MAX; }
};
}  // namespace kxtest

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size)
{
    const bool over = kxtest::liveBytes + static_cast<int64_t>(size) > kxtest::ceilingBytes;
    return over ? nullptr : kxtest::Counted(__libc_malloc(size));
}
void* calloc(size_t count, size_t size) { return kxtest::Counted(__libc_calloc(count, size)); }
void* memalign(size_t alignment, size_t size) { return kxtest::Counted(__libc_memalign(alignment, size)); }
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
void free(void* p)
{
    kxtest::Uncounted(p);
    __libc_free(p);
}
void* realloc(void* old, size_t size)
{
    kxtest::Uncounted(old);
    void* p = __libc_realloc(old, size);
    kxtest::Counted(p != nullptr ? p : (size != 0 ? old : nullptr));  // a failed realloc keeps `old`
    return p;
}
int posix_memalign(void** out, size_t alignment, size_t size)
{
    *out = memalign(alignment, size);
    return *out != nullptr ? 0 : ENOMEM;
}
}
#endif
