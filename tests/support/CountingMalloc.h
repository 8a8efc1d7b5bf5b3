// Counts the bytes malloc hands out and their high-water mark, so a test can
// check that a decoder never allocated much more than the picture needs. The
// C libraries behind the decoders and the surface pool all allocate through
// malloc. Under AddressSanitizer the sanitizer owns malloc (and its
// quarantine would blur the numbers): KX_COUNTING_MALLOC is then 0 and there
// is no count. Include this header in one source file of a test program
// only: it replaces malloc for the whole program.
#pragma once

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define KX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KX_SANITIZED 1
#endif
#endif

#ifndef KX_SANITIZED
#define KX_COUNTING_MALLOC 1
namespace kxtest {
namespace counting {
inline std::atomic<int64_t> liveBytes{0};
inline std::atomic<int64_t> peakBytes{0};
inline void Counted(void* p)
{
    if (p == nullptr) return;
    const int64_t now = liveBytes += static_cast<int64_t>(malloc_usable_size(p));
    int64_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {}
}
inline void Uncounted(void* p)
{
    if (p != nullptr) liveBytes -= static_cast<int64_t>(malloc_usable_size(p));
}
}  // namespace counting
// Bytes malloc has handed out and not taken back.
inline int64_t LiveBytes() { return counting::liveBytes.load(); }
// The most bytes live at once since the last ResetPeak.
inline int64_t PeakBytes() { return counting::peakBytes.load(); }
inline void ResetPeak() { counting::peakBytes = counting::liveBytes.load(); }
}  // namespace kxtest

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size)
{
    void* p = __libc_malloc(size);
    kxtest::counting::Counted(p);
    return p;
}
void* calloc(size_t count, size_t size)
{
    void* p = __libc_calloc(count, size);
    kxtest::counting::Counted(p);
    return p;
}
void* realloc(void* old, size_t size)
{
    kxtest::counting::Uncounted(old);
    void* p = __libc_realloc(old, size);
    kxtest::counting::Counted(p != nullptr ? p : (size != 0 ? old : nullptr));
    return p;
}
void free(void* p)
{
    kxtest::counting::Uncounted(p);
    __libc_free(p);
}
void* memalign(size_t alignment, size_t size)
{
    void* p = __libc_memalign(alignment, size);
    kxtest::counting::Counted(p);
    return p;
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size)
{
    *out = memalign(alignment, size);
    return *out != nullptr ? 0 : ENOMEM;
}
}
#endif
#ifndef KX_COUNTING_MALLOC
#define KX_COUNTING_MALLOC 0
#endif
