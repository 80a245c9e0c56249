#pragma once
// The tool's commands. Each takes its parsed words and returns the exit status; none
// of them throws (library failures are reported per printer and the batch goes on).
#include "CliIo.h"
#include "CommandLine.h"

#include <chrono>

struct CPrinterSettings;

namespace cli
{

class ConsolePrompt;

struct CommandContext
{
    const std::string& command;
    const CommandLine& args;
    const CliIo& io;
    ConsolePrompt& prompt;
    // How long a command that takes the single-instance lock waits for it (--wait-lock).
    std::chrono::seconds lockWait{0};
};

int RunList(CommandContext& c);
int RunShow(CommandContext& c);
int RunAdd(CommandContext& c);
int RunRemove(CommandContext& c);
int RunDetect(CommandContext& c);
int RunSetSerial(CommandContext& c);
int RunHeadHistory(CommandContext& c);
int RunResetHead(CommandContext& c);
int RunTestPage(CommandContext& c);
int RunPrintOdometers(CommandContext& c);
int RunPrintHeadHistory(CommandContext& c);
int RunSend(CommandContext& c);
int RunHistory(CommandContext& c);
int RunForecast(CommandContext& c);
int RunHeadLife(CommandContext& c);
int RunMetrics(CommandContext& c);

// The words of add as the file and the printer to add, checked as far as they can be
// without the file; false after a usage message.
bool ParseAddCommand(CommandContext& c, std::string& file, CPrinterSettings& settings);

} // namespace cli
