#pragma once
// The debugger-output stand-in: a few steps leave a trace line ("Enter StartDownload")
// for whoever is debugging. Nothing is written unless the environment variable
// VARKO_DEBUG is set to a non-empty value; then the text goes to standard error
// exactly as given (callers end their lines themselves). There is no log file.
//
// Threading: may be called from any thread.
#include "Export.h"

VARKO_EXPORT void OutputDebugString(const char* text);

// Tests capture the trace through a sink of their own; it receives every text whether
// or not VARKO_DEBUG is set. Null restores the default. Returns the previous sink.
using DebugOutputSink = void (*)(const char* text);
VARKO_EXPORT DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);
