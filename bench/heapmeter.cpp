#include "heapmeter.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>

// Heap accounting by interposing the allocator (glibc keeps the real one as __libc_*).
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {
std::atomic<long long> g_inUse{0};
std::atomic<long long> g_peak{0};

void track(long long delta)
{
    const long long now = g_inUse += delta;
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}
} // namespace

extern "C" {
void* malloc(size_t n)
{
    void* p = __libc_malloc(n);
    if (p)
        track(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
void* calloc(size_t n, size_t m)
{
    void* p = __libc_calloc(n, m);
    if (p)
        track(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
void* realloc(void* old, size_t n)
{
    const long long before = old ? static_cast<long long>(malloc_usable_size(old)) : 0;
    void* p = __libc_realloc(old, n);
    if (p)
        track(static_cast<long long>(malloc_usable_size(p)) - before);
    else if (n == 0)
        track(-before);
    return p;
}
void free(void* p)
{
    if (p)
        track(-static_cast<long long>(malloc_usable_size(p)));
    __libc_free(p);
}
void* memalign(size_t a, size_t n)
{
    void* p = __libc_memalign(a, n);
    if (p)
        track(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
int posix_memalign(void** out, size_t a, size_t n)
{
    void* p = __libc_memalign(a, n);
    if (!p)
        return 12;
    track(static_cast<long long>(malloc_usable_size(p)));
    *out = p;
    return 0;
}
void* aligned_alloc(size_t a, size_t n)
{
    return memalign(a, n);
}
}

namespace corvane::bench {

long long heapInUse()
{
    return g_inUse.load();
}

long long heapPeak()
{
    return g_peak.load();
}

void resetHeapPeak()
{
    g_peak = g_inUse.load();
}

} // namespace corvane::bench
