#include "CPortUse.h"

#include "WaitHandles.h"

#include <chrono>

bool CPortUse::TryBeginQuery()
{
    std::lock_guard g(m_lock);
    if (m_download)
        return false;
    ++m_queries;
    return true;
}

void CPortUse::EndQuery()
{
    {
        std::lock_guard g(m_lock);
        if (m_queries > 0)
            --m_queries;
    }
    m_free.notify_all();
}

bool CPortUse::BeginDownload()
{
    std::unique_lock g(m_lock);
    for (;;)
    {
        // A stop sets the cancel event without knowing of this wait, so it is looked at
        // now and then rather than being waited on.
        if (m_free.wait_for(g, std::chrono::milliseconds(50), [this] { return m_queries == 0; }))
        {
            m_download = true;
            return true;
        }
        if (IsThreadCancelled())
            return false;
    }
}

void CPortUse::EndDownload()
{
    std::lock_guard g(m_lock);
    m_download = false;
}

bool CPortUse::IsDownloading() const
{
    std::lock_guard g(m_lock);
    return m_download;
}
