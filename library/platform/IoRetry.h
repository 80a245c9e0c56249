#pragma once
// The two pieces every transfer loop of the device and socket layers is made of: a system
// call retried while a signal interrupts it, and the time left to a deadline as a poll
// time-out. Keeping them here, once, keeps the loops about their own rules (time-outs,
// hang-ups, stalls) instead of about errno and clock arithmetic.
//
// Both are inline: the download path calls them once per piece, and they must cost no
// more than the hand-written lines they replace.
//
// Threading: no state; errno and the clock are the calling thread's.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <type_traits>

// What a system call returned, and the errno of its failure (0 when it did not fail).
// The number is taken at the failing call itself: anything called afterwards may change
// errno, and a call that succeeded leaves whatever an earlier one put there.
template <typename T> struct SysResult
{
    T value;
    int error;

    bool Failed() const { return value < 0; }
};

// Calls `call` (a system call through the Sys() seam, or poll) again for as long as it
// fails with EINTR. A call whose arguments depend on the time, such as a poll with the
// time left to a deadline, must compute them inside `call`, so each retry waits only for
// what is left.
template <typename Call>
inline auto RetryOnEintr(Call&& call) -> SysResult<std::invoke_result_t<Call&>>
{
    for (;;)
    {
        const auto r = call();
        if (r >= 0)
            return {r, 0};
        const int err = errno;
        if (err != EINTR)
            return {r, err};
    }
}

using IoClock = std::chrono::steady_clock;

// When a wait must be over, or no limit. Deadlines far beyond any real wait (a time-out
// product of two large settings) saturate instead of wrapping round into the past.
class IoDeadline
{
public:
    // The longest single poll: the time-out is an int, and a wait this long is re-armed.
    static constexpr int kMaxPollMs = 1 << 30;

    // No limit.
    IoDeadline() = default;

    static IoDeadline At(IoClock::time_point when)
    {
        IoDeadline d;
        d.m_set = true;
        d.m_when = when;
        return d;
    }
    // ms after from (0 or less: at from, so already over once from has passed).
    static IoDeadline After(IoClock::time_point from, long long ms)
    {
        using std::chrono::milliseconds;
        const long long room =
            std::chrono::duration_cast<milliseconds>(IoClock::time_point::max() - from).count();
        return At(ms >= room ? IoClock::time_point::max() : from + milliseconds(std::max(ms, 0LL)));
    }

    // ms after from, or no limit when ms is 0 or less: a time-out setting of 0 means none.
    static IoDeadline Limit(IoClock::time_point from, long long ms)
    {
        return ms > 0 ? After(from, ms) : IoDeadline();
    }

    bool IsSet() const { return m_set; }
    bool Passed(IoClock::time_point now = IoClock::now()) const { return m_set && now >= m_when; }

    // The one that ends first; a deadline that is not set never does.
    IoDeadline Earliest(const IoDeadline& other) const
    {
        if (!m_set)
            return other;
        if (!other.m_set)
            return *this;
        return m_when <= other.m_when ? *this : other;
    }

    // The time-out for a poll that must be over by this deadline: -1 (no limit) when
    // none is set, 0 once it has passed, otherwise the time left rounded up to whole
    // milliseconds, so 0.3 ms left waits 1 ms instead of polling with 0 until the
    // deadline comes round (a spin), and at most kMaxPollMs.
    int PollTimeoutMs(IoClock::time_point now = IoClock::now()) const
    {
        if (!m_set)
            return -1;
        if (now >= m_when)
            return 0;
        const long long left = std::chrono::ceil<std::chrono::milliseconds>(m_when - now).count();
        return static_cast<int>(std::min<long long>(left, kMaxPollMs));
    }

private:
    bool m_set = false;
    IoClock::time_point m_when{};
};
