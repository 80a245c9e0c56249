#include "CFleetQuery.h"

#include "UserPrompt.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unordered_map>

namespace
{
CFleetFailure FailureOf(const CException& e)
{
    CFleetFailure failure;
    failure.text = e.GetReportText();
    if (const auto* own = dynamic_cast<const CVarkoPrinterException*>(&e))
        failure.exception = *own;
    return failure;
}

// The printers grouped by the port they name, case aside (the collection compares port
// names that way); a printer without a port name is a group of its own.
std::vector<std::vector<std::size_t>> PortsOf(const std::vector<CVarkoPrinterData*>& printers)
{
    std::vector<std::vector<std::size_t>> ports;
    std::unordered_map<std::string, std::size_t> byName;
    byName.reserve(printers.size());
    for (std::size_t i = 0; i < printers.size(); ++i)
    {
        std::string name = printers[i]->Port().str();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (!name.empty())
            if (auto [it, added] = byName.try_emplace(name, ports.size()); !added)
            {
                ports[it->second].push_back(i);
                continue;
            }
        ports.push_back({i});
    }
    return ports;
}

CFleetFailure OutOfMemory()
{
    return CFleetFailure{AfxNoErrorMessageText(), std::nullopt};
}
} // namespace

void CFleetFailure::Report() const
{
    if (exception)
        exception->ReportError();
    else
        AfxMessageBox(text, MB_OK);
}

const CFleetFailure* CPrinterAnswers::FirstFailure() const
{
    for (const auto* f : {&modelFailure, &serialFailure, &odometerFailure})
        if (*f)
            return &**f;
    return nullptr;
}

CFleetQuery::CFleetQuery(int maxConcurrent) : m_maxConcurrent(std::max(1, maxConcurrent)) {}

CFleetQuery::~CFleetQuery()
{
    Cancel();
    JoinThreads();
}

CPrinterAnswers CFleetQuery::Ask(CVarkoPrinterData& printer, EDisplayUnits units)
{
    CPrinterAnswers a;
    a.printer = &printer;
    a.asked = true;
    // The same questions, in the same order and with the same handling of failures, as
    // filling one row of the list: each question is asked even after an earlier failed.
    try
    {
        a.model = printer.Model();
    }
    catch (const CException& e)
    {
        a.modelFailure = FailureOf(e);
    }
    catch (const std::bad_alloc&)
    {
        a.modelFailure = OutOfMemory();
    }
    a.bidirectional = printer.IsBidirectional();
    try
    {
        a.serial = printer.SerialNumber();
    }
    catch (const CException& e)
    {
        a.serialFailure = FailureOf(e);
    }
    catch (const std::bad_alloc&)
    {
        a.serialFailure = OutOfMemory();
    }
    try
    {
        printer.Odometers(a.head, a.total, units);
    }
    catch (const CException& e)
    {
        a.head = a.total = -1;
        a.odometerFailure = FailureOf(e);
    }
    catch (const std::bad_alloc&)
    {
        a.head = a.total = -1;
        a.odometerFailure = OutOfMemory();
    }
    a.answeredAt = NowUtcMillis();
    return a;
}

void CFleetQuery::Start(std::vector<CVarkoPrinterData*> printers, EDisplayUnits units,
                        std::function<void()> notify)
{
    if (IsBusy())
        throw std::logic_error("a fill is still running");
    JoinThreads();
    m_printers = std::move(printers);
    m_ports = PortsOf(m_printers);
    m_units = units;
    m_notify = std::move(notify);
    m_next = 0;
    m_answered = 0;
    m_cancelled = false;
    {
        std::lock_guard g(m_lock);
        m_ready.clear();
        m_running = static_cast<int>(
            std::min<std::size_t>(static_cast<std::size_t>(m_maxConcurrent), m_ports.size()));
    }
    if (m_printers.empty())
    {
        if (m_notify)
            m_notify();
        return;
    }
    const int threads = m_running;
    // Making a few hundred threads takes tens of milliseconds: the first one makes the
    // others, so the caller's thread (the window's) only makes one. A thread the system
    // refuses is one fewer to wait for; the fill goes on with those there are.
    m_threads.emplace_back(
        [this, threads]
        {
            std::vector<std::thread> others;
            others.reserve(static_cast<std::size_t>(threads - 1));
            for (int i = 1; i < threads; ++i)
                try
                {
                    others.emplace_back([this] { Work(); });
                }
                catch (const std::system_error&)
                {
                    std::lock_guard g(m_lock);
                    m_running -= threads - i;
                    break;
                }
            Work();
            for (std::thread& t : others)
                t.join();
        });
}

void CFleetQuery::Work()
{
    for (;;)
    {
        if (m_cancelled.load())
            break;
        const std::size_t port = m_next.fetch_add(1);
        if (port >= m_ports.size())
            break;
        for (const std::size_t i : m_ports[port])
        {
            if (m_cancelled.load())
                break;
            CPrinterAnswers a = Ask(*m_printers[i], m_units);
            a.index = i;
            {
                std::lock_guard g(m_lock);
                m_ready.push_back(std::move(a));
            }
            ++m_answered;
            if (m_notify)
                m_notify();
        }
    }
    bool last = false;
    {
        std::lock_guard g(m_lock);
        last = --m_running == 0;
    }
    if (last)
    {
        m_ended.notify_all();
        if (m_notify)
            m_notify();
    }
}

void CFleetQuery::Cancel()
{
    m_cancelled = true;
}

bool CFleetQuery::IsBusy() const
{
    std::lock_guard g(m_lock);
    return m_running > 0;
}

void CFleetQuery::Wait()
{
    {
        std::unique_lock g(m_lock);
        m_ended.wait(g, [this] { return m_running == 0; });
    }
    JoinThreads();
}

void CFleetQuery::JoinThreads()
{
    for (std::thread& t : m_threads)
        if (t.joinable())
            t.join();
    m_threads.clear();
}

std::vector<CPrinterAnswers> CFleetQuery::TakeAnswers()
{
    std::lock_guard g(m_lock);
    std::vector<CPrinterAnswers> answers;
    answers.swap(m_ready);
    return answers;
}

std::vector<CPrinterAnswers> CFleetQuery::AskAll(const std::vector<CVarkoPrinterData*>& printers,
                                                 EDisplayUnits units, int maxConcurrent)
{
    std::vector<CPrinterAnswers> ordered(printers.size());
    for (std::size_t i = 0; i < printers.size(); ++i)
    {
        ordered[i].index = i;
        ordered[i].printer = printers[i];
    }
    CFleetQuery query(maxConcurrent);
    query.Start(printers, units);
    query.Wait();
    for (CPrinterAnswers& a : query.TakeAnswers())
    {
        const std::size_t i = a.index;
        ordered[i] = std::move(a);
    }
    return ordered;
}
