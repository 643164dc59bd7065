#pragma once
// Counts heap allocations and mutex locks made on the calling thread while a CountingScope is
// alive, for tests of real-time code that must do neither.
//
// The counting needs the global allocation functions (and, outside sanitizer builds whose
// runtimes own them, malloc and pthread_mutex_lock) replaced. Replacements are program-wide, so
// OREVANT_COUNTING_ALLOCATOR() is expanded at file scope in exactly one translation unit of a
// standalone test binary, never in a module binary or in the shared support library.
#include <dlfcn.h>
#include <pthread.h>

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OREVANT_ALLOCATION_COUNTER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OREVANT_ALLOCATION_COUNTER_SANITIZED 1
#endif
#endif

namespace orevant::test::alloc {

inline thread_local bool counting = false;
inline thread_local std::size_t allocations = 0;
inline thread_local std::size_t locks = 0;

inline void noteAllocation() noexcept {
    if (counting) ++allocations;
}

// Whether locks are seen: a sanitizer's runtime keeps pthread_mutex_lock to itself.
inline constexpr bool kCountsLocks =
#ifdef OREVANT_ALLOCATION_COUNTER_SANITIZED
    false;
#else
    true;
#endif

// Zeroes the counters and counts until destroyed.
class CountingScope {
public:
    CountingScope() noexcept {
        allocations = locks = 0;
        counting = true;
    }
    ~CountingScope() { counting = false; }
    CountingScope(const CountingScope&) = delete;
    CountingScope& operator=(const CountingScope&) = delete;
};

// Whether the counting works at all, so that a zero measured after it means something.
inline bool countsWhatItShould() {
    std::size_t seen = 0, locked = 0;
    {
        const CountingScope scope;
        void* p = ::operator new(16); // a direct call: the compiler may not drop it
        pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
        pthread_mutex_lock(&m);
        pthread_mutex_unlock(&m);
        seen = allocations;
        locked = locks;
        ::operator delete(p);
    }
    allocations = locks = 0;
    return seen >= 1 && (!kCountsLocks || locked == 1);
}

} // namespace orevant::test::alloc

// These operators are the allocator: new takes from malloc, so delete gives back with free.
// Deletes stay out of line so the compiler does not pair an inlined free() with a new-expression.
#define OREVANT_COUNTING_OPERATORS_()                                                                                  \
    void* operator new(std::size_t n) {                                                                                \
        orevant::test::alloc::noteAllocation();                                                                        \
        if (void* p = std::malloc(n ? n : 1)) return p;                                                                \
        throw std::bad_alloc();                                                                                        \
    }                                                                                                                  \
    void* operator new[](std::size_t n) { return operator new(n); }                                                    \
    void* operator new(std::size_t n, const std::nothrow_t&) noexcept {                                                \
        orevant::test::alloc::noteAllocation();                                                                        \
        return std::malloc(n ? n : 1);                                                                                 \
    }                                                                                                                  \
    void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }               \
    void* operator new(std::size_t n, std::align_val_t a) {                                                            \
        orevant::test::alloc::noteAllocation();                                                                        \
        const auto align = static_cast<std::size_t>(a);                                                                \
        if (void* p = std::aligned_alloc(align, (n + align - 1) / align * align)) return p;                            \
        throw std::bad_alloc();                                                                                        \
    }                                                                                                                  \
    void* operator new[](std::size_t n, std::align_val_t a) { return operator new(n, a); }                             \
    __attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }                                 \
    __attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }                               \
    __attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }                    \
    __attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }                  \
    __attribute__((noinline)) void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }               \
    __attribute__((noinline)) void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }             \
    __attribute__((noinline)) void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }  \
    __attribute__((noinline)) void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

#ifdef OREVANT_ALLOCATION_COUNTER_SANITIZED
#define OREVANT_COUNTING_LIBC_()
#else
#define OREVANT_COUNTING_LIBC_()                                                                                       \
    extern "C" {                                                                                                       \
    void* __libc_malloc(size_t);                                                                                       \
    void* __libc_calloc(size_t, size_t);                                                                               \
    void* __libc_realloc(void*, size_t);                                                                               \
    void* malloc(size_t n) {                                                                                           \
        orevant::test::alloc::noteAllocation();                                                                        \
        return __libc_malloc(n);                                                                                       \
    }                                                                                                                  \
    void* calloc(size_t n, size_t s) {                                                                                 \
        orevant::test::alloc::noteAllocation();                                                                        \
        return __libc_calloc(n, s);                                                                                    \
    }                                                                                                                  \
    void* realloc(void* p, size_t n) {                                                                                 \
        orevant::test::alloc::noteAllocation();                                                                        \
        return __libc_realloc(p, n);                                                                                   \
    }                                                                                                                  \
    int pthread_mutex_lock(pthread_mutex_t* m) {                                                                       \
        using Fn = int (*)(pthread_mutex_t*);                                                                          \
        static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));                                 \
        if (orevant::test::alloc::counting) ++orevant::test::alloc::locks;                                             \
        return real(m);                                                                                                \
    }                                                                                                                  \
    }
#endif

#define OREVANT_COUNTING_ALLOCATOR()                                                                                   \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmismatched-new-delete\"")                       \
        OREVANT_COUNTING_OPERATORS_() _Pragma("GCC diagnostic pop") OREVANT_COUNTING_LIBC_()
