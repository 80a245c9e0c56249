#include "CancellablePoll.h"

#include "SysCalls.h"
#include "WaitHandles.h"

#include <cerrno>
#include <vector>

int PollOrCancel(struct pollfd* fds, nfds_t n, int timeoutMs)
{
    const int cancel = ThreadCancelDescriptor();
    if (cancel < 0)
        return Sys().poll(fds, n, timeoutMs);
    if (IsThreadCancelled())
    {
        errno = ECANCELED;
        return -1;
    }
    std::vector<pollfd> all(fds, fds + n);
    all.push_back({cancel, POLLIN, 0});
    int r = Sys().poll(all.data(), all.size(), timeoutMs);
    if (r < 0)
        return r;
    int ready = 0;
    for (nfds_t i = 0; i < n; ++i)
    {
        fds[i].revents = all[i].revents;
        ready += all[i].revents != 0;
    }
    if (all[n].revents & POLLIN)
    {
        errno = ECANCELED;
        return -1;
    }
    return ready;
}
