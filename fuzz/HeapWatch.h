// The export and plot targets' watch on the heap bytes held at once (one per process: it
// installs the sanitizer's allocator hooks).
#pragma once

#include <atomic>
#include <cstdint>

#include <sanitizer/allocator_interface.h>

namespace rv8::fuzz {

// Live heap bytes of the process and their peak while g_watch is set (the sanitizer's allocator
// hooks, every thread).
inline std::atomic<bool> g_watch{false};
inline std::atomic<int64_t> g_live{0}, g_peak{0};

inline void OnMalloc(const volatile void*, std::size_t n) {
    if (!g_watch.load(std::memory_order_relaxed)) return;
    const int64_t now = g_live.fetch_add(static_cast<int64_t>(n)) + static_cast<int64_t>(n);
    int64_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}
inline void OnFree(const volatile void* p) {
    if (!g_watch.load(std::memory_order_relaxed) || p == nullptr) return;
    g_live.fetch_sub(static_cast<int64_t>(__sanitizer_get_allocated_size(const_cast<void*>(p))));
}
inline const int g_hooks = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);

}  // namespace rv8::fuzz
