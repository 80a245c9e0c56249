#pragma once
// The tool's front: finds the command, parses its options against what the command
// declares, answers --help and --version, installs the console prompt, and runs it.
//
// Threading: main thread.
#include <cstdio>

namespace cli
{

// stdinIsTerminal and stderrIsTerminal are passed in so that tests can run the
// tool in-process with files standing in for the terminal.
int RunCli(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err,
           bool stdinIsTerminal, bool stderrIsTerminal);

} // namespace cli
