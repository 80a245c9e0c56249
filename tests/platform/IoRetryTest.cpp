// The retry and deadline pieces every device and socket loop is built from, and the
// device read's error path that depends on them taking errno at the failing call.
#include "IoRetry.h"
#include "DeviceFile.h"
#include "ErrorMapping.h"
#include "SysCalls.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <stdlib.h>
#include <unistd.h>

using namespace std::chrono;

namespace
{
TEST(RetryOnEintr, RetriesInterruptedCallsAndKeepsTheFailingCallsErrno)
{
    int calls = 0;
    const SysResult<int> done = RetryOnEintr(
        [&]
        {
            if (++calls <= 3)
            {
                errno = EINTR;
                return -1;
            }
            return 7;
        });
    EXPECT_EQ(calls, 4);
    EXPECT_FALSE(done.Failed());
    EXPECT_EQ(done.value, 7);
    EXPECT_EQ(done.error, 0);

    calls = 0;
    const SysResult<long> failed = RetryOnEintr(
        [&]
        {
            errno = ++calls == 1 ? EINTR : EIO;
            return -1L;
        });
    errno = ENOSPC; // whatever runs afterwards cannot change what the failure was
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(failed.Failed());
    EXPECT_EQ(failed.error, EIO);

    // A call that succeeds reports no error, whatever an earlier call left in errno.
    errno = EBADF;
    EXPECT_EQ(RetryOnEintr([] { return 0; }).error, 0);
}

TEST(IoDeadline, PollTimeOutsRoundUpClampAtZeroAndNeverWrap)
{
    const IoClock::time_point now = IoClock::now();
    EXPECT_EQ(IoDeadline().PollTimeoutMs(now), -1);
    EXPECT_FALSE(IoDeadline().Passed(now));

    // Less than a millisecond left still waits a millisecond: a 0 time-out would spin.
    EXPECT_EQ(IoDeadline::At(now + microseconds(300)).PollTimeoutMs(now), 1);
    EXPECT_EQ(IoDeadline::At(now + microseconds(1001)).PollTimeoutMs(now), 2);
    EXPECT_EQ(IoDeadline::After(now, 250).PollTimeoutMs(now), 250);
    EXPECT_FALSE(IoDeadline::At(now + nanoseconds(1)).Passed(now));

    EXPECT_TRUE(IoDeadline::At(now).Passed(now));
    EXPECT_EQ(IoDeadline::At(now - milliseconds(5)).PollTimeoutMs(now), 0);
    EXPECT_EQ(IoDeadline::After(now, -20).PollTimeoutMs(now), 0);
    // A time-out setting of 0 is no limit at all.
    EXPECT_FALSE(IoDeadline::Limit(now, 0).IsSet());
    EXPECT_EQ(IoDeadline::Limit(now, 30).PollTimeoutMs(now), 30);

    // A product of two large time-out settings is far away, not in the past.
    const IoDeadline far = IoDeadline::After(now, std::numeric_limits<long long>::max());
    EXPECT_FALSE(far.Passed(now));
    EXPECT_EQ(far.PollTimeoutMs(now), IoDeadline::kMaxPollMs);

    const IoDeadline later = IoDeadline::After(now, 100), sooner = IoDeadline::After(now, 40);
    EXPECT_EQ(later.Earliest(sooner).PollTimeoutMs(now), 40);
    EXPECT_EQ(sooner.Earliest(later).PollTimeoutMs(now), 40);
    EXPECT_EQ(IoDeadline().Earliest(later).PollTimeoutMs(now), 100);
    EXPECT_EQ(later.Earliest(IoDeadline()).PollTimeoutMs(now), 100);
}

// The slave side of a pseudo-terminal, opened as a device.
class TerminalHandle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(::grantpt(m_master), 0);
        ASSERT_EQ(::unlockpt(m_master), 0);
        m_handle = CreateFileA(::ptsname(m_master), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(m_handle, INVALID_HANDLE_VALUE);
    }
    void TearDown() override
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        ::close(m_master);
    }

    int m_master = -1;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// A terminal read that answers "nothing yet" (0) does not fail, so the errno it leaves
// behind means nothing: after a hang-up the device counts as gone (EIO).
TEST_F(TerminalHandle, AHangUpAfterAnEmptyReadIsReportedAsGoneNotAsAStaleError)
{
    ScopedSysCall read(
        &SysCalls::read,
        +[](int, void*, std::size_t) -> ssize_t
        {
            errno = ENOSPC;
            return 0;
        });
    ScopedSysCall poll(
        &SysCalls::poll,
        +[](struct pollfd* fds, nfds_t, int) -> int
        {
            fds[0].revents = POLLHUP;
            return 1;
        });
    char buffer[8];
    DWORD received = 99;
    EXPECT_FALSE(ReadFileWithin(m_handle, buffer, sizeof buffer, &received, 1000));
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(GetLastError(), Win32ErrorFromErrno(EIO));
}

// Bytes, an interruption, then a failure: the bytes are handed over and the failure is
// the read's own, not the interruption's or a later call's.
TEST_F(TerminalHandle, AReadThatFailsAfterBytesReportsThemAndItsOwnError)
{
    static int s_calls;
    s_calls = 0;
    ScopedSysCall read(
        &SysCalls::read,
        +[](int, void* b, std::size_t) -> ssize_t
        {
            switch (s_calls++)
            {
            case 0:
                static_cast<char*>(b)[0] = 'a';
                static_cast<char*>(b)[1] = 'b';
                return 2;
            case 1:
                errno = EINTR;
                return -1;
            default:
                errno = EIO;
                return -1;
            }
        });
    char buffer[8];
    DWORD received = 0;
    EXPECT_FALSE(ReadFile(m_handle, buffer, sizeof buffer, &received, nullptr));
    EXPECT_EQ(received, 2u);
    EXPECT_EQ(s_calls, 3);
    EXPECT_EQ(GetLastError(), Win32ErrorFromErrno(EIO));
}
} // namespace
