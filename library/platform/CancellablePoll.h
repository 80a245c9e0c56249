#pragma once
// The waits of the device and socket layers: poll through the system-call seam, ended
// early when the calling thread's cancel event is set (CThreadCancelScope), so that a
// stopped download job never sits out a device or network time limit.
//
// Threading: uses only the calling thread's state.
#include <poll.h>

// As poll (fds may be null when n is 0: a plain sleep). When the thread's cancel event
// is set before or during the wait, returns -1 with errno ECANCELED.
int PollOrCancel(struct pollfd* fds, nfds_t n, int timeoutMs);
