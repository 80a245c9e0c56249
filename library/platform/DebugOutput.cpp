#include "DebugOutput.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace
{
std::atomic<DebugOutputSink> g_sink{nullptr};
}

void OutputDebugString(const char* text)
{
    if (!text)
        return;
    if (DebugOutputSink sink = g_sink.load())
    {
        sink(text);
        return;
    }
    const char* on = std::getenv("VARKO_DEBUG");
    if (on && *on)
        std::fputs(text, stderr);
}

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink)
{
    return g_sink.exchange(sink);
}
