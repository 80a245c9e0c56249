#pragma once
// Who is using a printer's port: a query or command on the user-interface thread, or
// the download job on the printer's own thread. Both work on the printer's one port
// object, and a query's Close would end a transfer under the job, so they take turns.
// A query that finds a download under way is refused at once (a download may run for
// minutes, and the user is better told to try again later than kept waiting); a job
// that finds a query under way waits for it (a query takes seconds at most).
//
// Threading: any thread. Shared by the printer record and its running job
// (std::shared_ptr), so a job that outlives its printer still finds it.
#include <condition_variable>
#include <mutex>

class CPortUse
{
public:
    // Query side (nesting allowed). False while a download holds the port.
    bool TryBeginQuery();
    void EndQuery();
    // Job side: waits until no query holds the port. False when the calling thread's
    // cancel event was set first (the job is being stopped).
    bool BeginDownload();
    void EndDownload();
    bool IsDownloading() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_free;
    int m_queries = 0;
    bool m_download = false;
};
