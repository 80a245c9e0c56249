#pragma once
// Another program holding the printer library's instance lock: a child process
// (tests/app/lock_holder) that takes the lock and keeps it until it is told to stop.
#include <string>
#include <sys/types.h>

class LockHolder
{
public:
    LockHolder() = default;
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // Starts the holder and waits (at most 10 s) until it has the lock.
    bool Start();
    const std::string& Error() const { return m_error; }

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
    std::string m_error;
};
