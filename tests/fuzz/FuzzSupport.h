#pragma once
// What every fuzz target shares: a check that aborts with a message (so the fuzzer keeps
// the input that broke it), a watch on the heap while one input is processed, and a
// file in memory that the code under test opens by path.
//
// The heap watch needs the sanitizer allocator's hooks; in builds without
// AddressSanitizer (the corpus replay under g++) it measures nothing and every bound
// holds.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ODOMIRA_FUZZ_HEAP_HOOKS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ODOMIRA_FUZZ_HEAP_HOOKS 1
#endif
#ifdef ODOMIRA_FUZZ_HEAP_HOOKS
// The sanitizer allocator's interface; declared here because g++ ships no header for it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* p);
#endif

namespace fuzz
{

[[noreturn]] inline void Fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "\n*** fuzz check failed at %s:%d: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_REQUIRE(cond)                                                                         \
    do                                                                                             \
    {                                                                                              \
        if (!(cond))                                                                               \
            ::fuzz::Fail(#cond, __FILE__, __LINE__);                                               \
    } while (0)

// Peak of the bytes allocated and not yet freed, by every thread, between Start and
// Stop. Blocks freed during the watch that were allocated before it are counted as
// freed too, so the figure can only err low by what the code under test released of
// older memory; the code under test here owns nothing older.
class HeapWatch
{
public:
    static void Install()
    {
#ifdef ODOMIRA_FUZZ_HEAP_HOOKS
        static bool installed =
            (__sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree), true);
        (void)installed;
#endif
    }
    static void Start()
    {
        Live().store(0);
        Peak().store(0);
        Largest().store(0);
        Armed().store(true);
    }
    static void Stop()
    {
        Armed().store(false);
    }
    static long long PeakBytes()
    {
        return Peak().load();
    }
    static long long LargestBlock()
    {
        return Largest().load();
    }
    static bool Measures()
    {
#ifdef ODOMIRA_FUZZ_HEAP_HOOKS
        return true;
#else
        return false;
#endif
    }

private:
    static std::atomic<long long>& Live()
    {
        static std::atomic<long long> v{0};
        return v;
    }
    static std::atomic<long long>& Peak()
    {
        static std::atomic<long long> v{0};
        return v;
    }
    static std::atomic<long long>& Largest()
    {
        static std::atomic<long long> v{0};
        return v;
    }
    static std::atomic<bool>& Armed()
    {
        static std::atomic<bool> v{false};
        return v;
    }
    static void Raise(std::atomic<long long>& to, long long value)
    {
        long long seen = to.load();
        while (value > seen && !to.compare_exchange_weak(seen, value))
        {
        }
    }
#ifdef ODOMIRA_FUZZ_HEAP_HOOKS
    static void OnMalloc(const volatile void*, std::size_t size)
    {
        if (!Armed().load(std::memory_order_relaxed))
            return;
        long long now =
            Live().fetch_add(static_cast<long long>(size)) + static_cast<long long>(size);
        Raise(Peak(), now);
        Raise(Largest(), static_cast<long long>(size));
    }
    static void OnFree(const volatile void* p)
    {
        if (!p || !Armed().load(std::memory_order_relaxed))
            return;
        Live().fetch_sub(static_cast<long long>(__sanitizer_get_allocated_size(p)));
    }
#endif
};

// A file that lives in memory only, reachable by a path the code under test can open
// like any other ("/proc/self/fd/N"). Each Write replaces the whole content.
class MemoryFile
{
public:
    MemoryFile()
    {
        m_fd = ::memfd_create("odomira-fuzz", MFD_CLOEXEC);
        if (m_fd < 0)
            Fail("memfd_create", __FILE__, __LINE__);
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }
    ~MemoryFile() { ::close(m_fd); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void Write(const void* data, std::size_t size)
    {
        if (::ftruncate(m_fd, 0) != 0)
            Fail("ftruncate", __FILE__, __LINE__);
        const auto* p = static_cast<const std::uint8_t*>(data);
        std::size_t done = 0;
        while (done < size)
        {
            ssize_t n = ::pwrite(m_fd, p + done, size - done, static_cast<off_t>(done));
            if (n <= 0)
                Fail("pwrite", __FILE__, __LINE__);
            done += static_cast<std::size_t>(n);
        }
    }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

} // namespace fuzz
