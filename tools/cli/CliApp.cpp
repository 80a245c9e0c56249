#include "CliApp.h"

#include "CliIo.h"
#include "CommandLine.h"
#include "Commands.h"
#include "ConsolePrompt.h"

#include "UserPrompt.h"

#include <cctype>
#include <string>
#include <vector>

#ifndef ODOMIRA_VERSION
#define ODOMIRA_VERSION "0.0.0"
#endif

namespace cli
{
namespace
{
using Runner = int (*)(CommandContext&);

struct CommandInfo
{
    const char* name;
    Runner run;
    std::vector<OptionSpec> options;
    const char* synopsis;
    const char* summary;
    const char* details;
};

// --help is accepted by every command.
const std::vector<CommandInfo>& Commands()
{
    static const std::vector<CommandInfo> commands = {
        {"list",
         RunList,
         {{"units", true}, {"json", false}, {"csv", false}, {"no-record", false}},
         "list FILE [NAME...] [--units in|mm] [--json|--csv] [--no-record]",
         "ask each printer for its serial number and odometers",
         "Prints one row per printer: name, model, port, serial number, total usage and\n"
         "head usage. \"Not Set\" marks a printer without a serial number, \"N/A\" a value\n"
         "the printer cannot give (parallel and network printers cannot answer), and\n"
         "\"Error!\" a query that failed; its message goes to standard error.\n"
         "Every odometer reading is kept in the odometer history (see history and\n"
         "forecast), as the window keeps its own; --no-record keeps nothing.\n"},
        {"show",
         RunShow,
         {{"json", false}},
         "show FILE [NAME...] [--json]",
         "print the stored settings without talking to any printer",
         "Prints name, model, download file, port class, calibrate flag and the port's\n"
         "own fields as the file stores them. Needs no lock and sends nothing.\n"},
        {"add",
         RunAdd,
         {{"name", true},
          {"model", true},
          {"serial", true},
          {"baud", true},
          {"data-bits", true},
          {"parity", true},
          {"stop-bits", true},
          {"flow", true},
          {"parallel", true},
          {"network", true},
          {"usb", true}},
         "add FILE --name NAME (--serial COMn [--baud B] [--data-bits 7|8]\n"
         "          [--parity none|odd|even] [--stop-bits 1|2] [--flow xon|hardware]\n"
         "          | --parallel LPTn | --network ADDR[:PORT] | --usb PATH) [--model M]",
         "add a printer (creates the file if it does not exist)",
         "The name and the port must not be in use by another printer of the file. Serial\n"
         "lines default to 9600 8N1 with hardware flow control; network printers to TCP\n"
         "port 9100. The file is written to a temporary file and renamed over the old\n"
         "one, so a failure never damages it.\n"},
        {"remove", RunRemove, {}, "remove FILE NAME...", "remove printers from the file", ""},
        {"detect",
         RunDetect,
         {{"broadcast", true}, {"no-usb", false}},
         "detect FILE [--broadcast ADDR] [--no-usb]",
         "find USB and network printers and add them to the file",
         "USB printers first, then one network search (10 seconds). A printer already in\n"
         "the file under the same port is renamed to the name it announces; new ones are\n"
         "added. The search request goes to --broadcast, else to the address in the\n"
         "environment variable VARKO_DISCOVERY_BROADCAST, else to 255.255.255.255.\n"},
        {"set-serial",
         RunSetSerial,
         {},
         "set-serial FILE NAME SERIAL",
         "store a serial number (at most 32 characters) in a printer",
         ""},
        {"head-history",
         RunHeadHistory,
         {{"units", true}},
         "head-history FILE NAME [--units in|mm]",
         "print a printer's head history report",
         ""},
        {"reset-head",
         RunResetHead,
         {{"yes", false}, {"no-record", false}},
         "reset-head FILE NAME... [--yes] [--no-record]",
         "reset the head odometer of printers",
         "Asks for each printer on the terminal. Without a terminal the answer is No\n"
         "unless --yes is given. Each reset is noted in the odometer history as a head\n"
         "change (--no-record: not noted).\n"},
        {"test-page",
         RunTestPage,
         {{"tpx", false}},
         "test-page FILE [NAME...] [--tpx]",
         "print the RLX (or, with --tpx, the TPX) test page",
         "The library does not report failures of test pages; a printer that is off\n"
         "prints nothing and no error is shown.\n"},
        {"print-odometers",
         RunPrintOdometers,
         {{"units", true}},
         "print-odometers FILE [NAME...] [--units in|mm]",
         "let printers print their odometer report",
         ""},
        {"print-head-history",
         RunPrintHeadHistory,
         {{"units", true}},
         "print-head-history FILE [NAME...] [--units in|mm]",
         "let printers print their head history",
         ""},
        {"send",
         RunSend,
         {{"file", true}, {"max", true}, {"calibrate", false}, {"no-calibrate", false}},
         "send FILE --file PATH [NAME...] [--max N] [--calibrate|--no-calibrate]",
         "send a file to printers, a few at a time",
         "Sets PATH as the download file of each printer named (all when none is) and\n"
         "sends it, to at most N printers at a time (default: the machine-wide limit).\n"
         "Shows each printer's progress and result. Ctrl+C cancels all transfers. A\n"
         "printer that received the file has its download file cleared; the settings\n"
         "file is saved at the end, so it keeps what is still to be sent.\n"
         "--calibrate turns on the printers' stored calibrate-after-download setting (an\n"
         "RLX calibration follows each successful transfer); --no-calibrate turns it off.\n"},
        {"history",
         RunHistory,
         {{"since", true}, {"until", true}, {"json", false}, {"csv", false}},
         "history FILE [NAME...] [--since DATE] [--until DATE] [--json|--csv]",
         "print the odometer readings kept for printers",
         "Prints every odometer reading that list and the window have kept for each\n"
         "printer, oldest first: when it was first and last seen (equal readings in a\n"
         "row are one entry), head and total usage in the unit they were read in, and\n"
         "head changes (a lower head value, or a reset through reset-head or the\n"
         "window). Asks no printer and needs no lock. A printer of the file is matched\n"
         "to the readings last taken under its name and port. DATE is UTC: 2024-05-01\n"
         "or 2024-05-01T14:30; --until takes in the whole day of a date.\n"},
        {"forecast",
         RunForecast,
         {{"json", false}, {"csv", false}},
         "forecast FILE [NAME...] [--json|--csv]",
         "print each printer's head wear rate and when its head is due",
         "From the readings since each printer's last head change: the wear rate in\n"
         "inches per day (robust to gaps and to a single odd reading) and, where the\n"
         "model's head life is set (see head-life), the days left and the date the\n"
         "head reaches it. Asks no printer and needs no lock.\n"},
        {"head-life",
         RunHeadLife,
         {},
         "head-life [MODEL [INCHES|none]]",
         "set or show the head life of a printer model",
         "Sets the head life of MODEL (exactly as the list shows the model) in inches;\n"
         "'none' clears it. With MODEL alone shows it; without operands lists every\n"
         "model's head life. The forecast assumes none that is not set.\n"},
    };
    return commands;
}

const CommandInfo* FindCommand(const std::string& name)
{
    for (const auto& c : Commands())
        if (name == c.name)
            return &c;
    return nullptr;
}

std::string ToolHelp()
{
    std::string h = "Usage: odomira-cli COMMAND FILE [ARGUMENTS...]\n"
                    "       odomira-cli --help | --version | COMMAND --help\n\n"
                    "The label printer fleet of a printer settings file (.vps) from a terminal.\n"
                    "Printers are chosen by name; without names a command serves every\n"
                    "printer of the file.\n\nCommands:\n";
    for (const auto& c : Commands())
    {
        std::string n = c.name;
        n.resize(20, ' ');
        h += "  " + n + c.summary + "\n";
    }
    h += "\nExit status: 0 success, 1 a printer, the file or the lock failed, 2 bad usage.\n"
         "Results go to standard output; errors, questions and progress to standard error.\n";
    return h;
}

std::string CommandHelp(const CommandInfo& c)
{
    std::string summary = c.summary;
    if (!summary.empty())
        summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    std::string h = std::string("Usage: odomira-cli ") + c.synopsis + "\n\n" + summary + ".\n";
    if (*c.details)
        h += std::string("\n") + c.details;
    return h;
}

bool WantsHelp(const std::vector<std::string>& words)
{
    for (const auto& w : words)
    {
        if (w == "--")
            return false;
        if (w == "--help" || w == "-h")
            return true;
    }
    return false;
}
} // namespace

CliInvocation ParseInvocation(const std::vector<std::string>& words)
{
    CliInvocation r;
    if (words.empty())
    {
        r.text = "missing command";
        return r;
    }
    const std::string& first = words[0];
    if (first == "--help" || first == "-h" || first == "help")
    {
        if (first == "help" && words.size() > 1)
        {
            if (const CommandInfo* c = FindCommand(words[1]))
            {
                r.kind = CliInvocation::eHelp;
                r.text = CommandHelp(*c);
                return r;
            }
            r.text = "unknown command '" + words[1] + "'";
            return r;
        }
        r.kind = CliInvocation::eHelp;
        r.text = ToolHelp();
        return r;
    }
    if (first == "--version")
    {
        r.kind = CliInvocation::eVersion;
        r.text = std::string("odomira-cli ") + ODOMIRA_VERSION + "\n";
        return r;
    }
    const CommandInfo* info = FindCommand(first);
    if (!info)
    {
        r.text = "unknown command '" + first + "'";
        return r;
    }
    std::vector<std::string> rest(words.begin() + 1, words.end());
    if (WantsHelp(rest))
    {
        r.kind = CliInvocation::eHelp;
        r.text = CommandHelp(*info);
        return r;
    }
    r.command = info->name;
    if (std::string problem = r.args.Parse(rest, info->options); !problem.empty())
    {
        r.text = problem;
        return r;
    }
    r.kind = CliInvocation::eRun;
    r.options = &info->options;
    r.run = info->run;
    return r;
}

int RunCli(int argc, char** argv, std::FILE* in, std::FILE* out, std::FILE* err,
           bool stdinIsTerminal, bool stderrIsTerminal)
{
    CliIo io(out, err, stderrIsTerminal);
    CliInvocation invocation =
        ParseInvocation(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    switch (invocation.kind)
    {
    case CliInvocation::eUsage:
        io.Usage(invocation.command, invocation.text);
        return eExitUsage;
    case CliInvocation::eHelp:
    case CliInvocation::eVersion:
        io.Write(invocation.text);
        return eExitOk;
    case CliInvocation::eRun:
        break;
    }

    AfxSetAppTitle(PROGRAM_NAME);
    ConsolePrompt prompt(in, err, stdinIsTerminal);
    prompt.Install();
    CommandContext context{invocation.command, invocation.args, io, prompt};
    return invocation.run(context);
}

} // namespace cli
