#include "LockHolder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

LockHolder::~LockHolder()
{
    if (m_toChild >= 0)
        ::close(m_toChild); // the holder ends when its input closes
    if (m_pid > 0)
    {
        int status = 0;
        for (int i = 0; i < 300 && ::waitpid(m_pid, &status, WNOHANG) == 0; ++i)
            ::usleep(10000);
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
    }
}

bool LockHolder::Start()
{
    const char* bin = std::getenv("ODOMIRA_BIN_DIR");
    const std::string program = std::string(bin ? bin : ".") + "/lock_holder";
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
    {
        m_error = "pipe failed";
        return false;
    }
    m_pid = ::fork();
    if (m_pid == 0)
    {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_toChild = in[1];
    pollfd p{out[0], POLLIN, 0};
    char reply[16] = {};
    ssize_t n = 0;
    if (::poll(&p, 1, 10000) == 1)
        n = ::read(out[0], reply, sizeof reply - 1);
    ::close(out[0]);
    if (n <= 0 || std::string(reply, static_cast<std::size_t>(n)).rfind("LOCKED", 0) != 0)
    {
        m_error = "the lock holder " + program + " did not take the lock: '" +
                  std::string(reply, n > 0 ? static_cast<std::size_t>(n) : 0) + "'";
        return false;
    }
    return true;
}
