#pragma once
// The tool's front: finds the command, parses its options against what the command
// declares, answers --help and --version, installs the console prompt, and runs it.
//
// Threading: main thread.
#include "CommandLine.h"
#include "Commands.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace cli
{

// What the words after the program name ask for, worked out before anything runs.
struct CliInvocation
{
    enum Kind
    {
        eUsage,   // text is the complaint, command the command it concerns (or empty)
        eHelp,    // text is the help to print
        eVersion, // text is the version line
        eRun      // command, with args parsed against its options
    };
    Kind kind = eUsage;
    std::string command;
    std::string text;
    CommandLine args;
    const std::vector<OptionRule>* options = nullptr; // eRun: what the command accepts
    int (*run)(CommandContext&) = nullptr;
    std::chrono::seconds lockWait{0}; // --wait-lock
};

// Sorts the words into one of the above; prints nothing and runs nothing.
CliInvocation ParseInvocation(const std::vector<std::string>& words);

// stdinIsTerminal and stderrIsTerminal are passed in so that tests can run the
// tool in-process with files standing in for the terminal.
int RunCli(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err,
           bool stdinIsTerminal, bool stderrIsTerminal);

} // namespace cli
