#include "PrinterJobs.h"

#include <atomic>

namespace
{
std::atomic<IPrinterJobs*> g_jobs{nullptr};
} // namespace

IPrinterJobThread::~IPrinterJobThread() = default;
IPrinterJobs::~IPrinterJobs() = default;

IPrinterJobs* SetPrinterJobs(IPrinterJobs* jobs)
{
    return g_jobs.exchange(jobs);
}

IPrinterJobs* GetPrinterJobs()
{
    return g_jobs.load();
}
