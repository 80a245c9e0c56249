#include "CHistoryWriter.h"

#include <utility>

CHistoryWriter::CHistoryWriter(Report report, std::string path)
    : m_path(path), m_recorder(std::move(report), std::move(path))
{
    m_thread = std::thread([this] { Run(); });
}

CHistoryWriter::~CHistoryWriter()
{
    {
        std::lock_guard g(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CHistoryWriter::Add(OdometerReading reading)
{
    m_adding.push_back(std::move(reading));
}

void CHistoryWriter::Commit()
{
    // Even a fill without readings hands over its turn: what an earlier fill could not
    // write is tried again now.
    Work work;
    work.readings.swap(m_adding);
    {
        std::lock_guard g(m_lock);
        m_queue.push_back(std::move(work));
    }
    m_wake.notify_all();
}

void CHistoryWriter::RecordHeadReset(OdometerReading who)
{
    Work work;
    work.reset = true;
    work.who = std::move(who);
    {
        std::lock_guard g(m_lock);
        m_queue.push_back(std::move(work));
    }
    m_wake.notify_all();
}

void CHistoryWriter::RecordSerialChange(OdometerReading who, std::string oldSerial)
{
    Work work;
    work.who = std::move(who);
    work.oldSerial = std::move(oldSerial);
    {
        std::lock_guard g(m_lock);
        m_queue.push_back(std::move(work));
    }
    m_wake.notify_all();
}

void CHistoryWriter::WhenIdle(std::function<void()> done)
{
    Work work;
    work.done = std::move(done);
    {
        std::lock_guard g(m_lock);
        m_queue.push_back(std::move(work));
    }
    m_wake.notify_all();
}

bool CHistoryWriter::WaitIdle(std::chrono::milliseconds limit)
{
    std::unique_lock g(m_lock);
    return m_idle.wait_for(g, limit, [this] { return m_queue.empty() && !m_writing; });
}

std::size_t CHistoryWriter::Kept() const
{
    std::lock_guard g(m_lock);
    return m_keptReadings;
}

std::string CHistoryWriter::KnownSerial(const std::string& name, const std::string& port) const
{
    return m_recorder.KnownSerial(name, port);
}

void CHistoryWriter::Run()
{
    std::unique_lock g(m_lock);
    for (;;)
    {
        m_wake.wait(g, [this] { return m_stop || !m_queue.empty(); });
        const bool last = m_stop;
        std::vector<std::function<void()>> done;
        while (!m_queue.empty())
        {
            Work& work = m_queue.front();
            if (work.done)
                done.push_back(std::move(work.done));
            else
            {
                m_keptReadings += work.readings.size();
                m_kept.push_back(std::move(work));
            }
            m_queue.pop_front();
        }
        Trim();
        m_writing = true;
        g.unlock();
        WriteKept();
        for (auto& d : done)
            d();
        g.lock();
        m_writing = false;
        m_idle.notify_all();
        if (last && m_queue.empty())
            return;
    }
}

void CHistoryWriter::WriteKept()
{
    for (;;)
    {
        // Only this thread changes m_kept; the owner reads just the count.
        Work* work = nullptr;
        {
            std::lock_guard g(m_lock);
            if (m_kept.empty())
                return;
            work = &m_kept.front();
        }
        const bool written = work->reset ? m_recorder.RecordHeadReset(work->who)
                             : work->oldSerial
                                 ? m_recorder.RecordSerialChange(work->who, *work->oldSerial)
                                 : m_recorder.Write(work->readings);
        if (!written)
            return;
        std::lock_guard g(m_lock);
        m_keptReadings -= work->readings.size();
        m_kept.pop_front();
    }
}

void CHistoryWriter::Trim()
{
    // Oldest first; a reset goes with the readings before it, since it says nothing
    // once they are gone.
    while (m_keptReadings > MAX_KEPT_READINGS && !m_kept.empty())
    {
        m_keptReadings -= m_kept.front().readings.size();
        m_kept.pop_front();
    }
}
