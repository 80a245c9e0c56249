#include "CliApp.h"

#include "CliIo.h"
#include "CommandLine.h"
#include "Commands.h"
#include "ConsolePrompt.h"

#include "UserPrompt.h"

#include <cctype>
#include <climits>
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

enum class Lock
{
    none,
    taken // talks to printers, so holds the single-instance lock while it runs
};

struct CommandInfo
{
    const char* name;
    Runner run;
    Lock lock;
    std::vector<OptionRule> options;
    const char* synopsis;
    const char* summary;
    const char* details;
};

const char* const COMMON_OPTIONS_HELP =
    "\n  -h, --help           this help\n"
    "  -q, --quiet          results only: no progress or notes on standard error\n";
const char* const WAIT_LOCK_HELP =
    "  --wait-lock SECONDS  wait up to SECONDS for another program to release the lock\n"
    "                       (exit status 75 when it still holds it)\n";

std::vector<CommandInfo> WithCommonOptions(std::vector<CommandInfo> commands)
{
    for (auto& c : commands)
    {
        c.options.push_back({"quiet", false, 'q'});
        if (c.lock == Lock::taken)
            c.options.push_back({"wait-lock", true});
    }
    return commands;
}

// --help and --quiet are accepted by every command, --wait-lock by those that take the
// lock.
const std::vector<CommandInfo>& Commands()
{
    static const std::vector<CommandInfo> commands = WithCommonOptions({
        {"list",
         RunList,
         Lock::taken,
         {{"units", true}, {"json", false, 'j'}, {"csv", false}, {"no-record", false}},
         "list FILE [NAME...] [--units in|mm] [--json|--csv] [--no-record]",
         "ask each printer for its serial number and odometers",
         "Prints one row per printer: name, model, port, serial number, total usage and\n"
         "head usage. \"Not Set\" marks a printer without a serial number, \"N/A\" a value\n"
         "the printer cannot give (parallel and network printers cannot answer), and\n"
         "\"Error!\" a query that failed; its message goes to standard error. A serial\n"
         "or USB printer that gives neither its serial number nor its odometers did not\n"
         "answer: a line on standard error says so and the exit status is 1.\n"
         "Every odometer reading is kept in the odometer history (see history and\n"
         "forecast), as the window keeps its own; --no-record keeps nothing.\n"
         "\n"
         "--json starts with \"format\": 1 and gives each printer a \"state\" and the\n"
         "UTC time it was read (\"read_at\"). --csv has the fixed columns name, model,\n"
         "port, serial_number, total_usage, head_usage, units and state, and empty cells\n"
         "where the table says N/A or Error!. Both changed from the first release.\n"},
        {"show",
         RunShow,
         Lock::none,
         {{"json", false, 'j'}},
         "show FILE [NAME...] [--json]",
         "print the stored settings without talking to any printer",
         "Prints name, model, download file, port class, calibrate flag and the port's\n"
         "own fields as the file stores them. Needs no lock and sends nothing.\n"},
        {"add",
         RunAdd,
         Lock::taken,
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
        {"remove",
         RunRemove,
         Lock::taken,
         {},
         "remove FILE NAME...",
         "remove printers from the file",
         ""},
        {"detect",
         RunDetect,
         Lock::taken,
         {{"broadcast", true}, {"no-usb", false}},
         "detect FILE [--broadcast ADDR] [--no-usb]",
         "find USB and network printers and add them to the file",
         "USB printers first, then one network search (10 seconds). A printer already in\n"
         "the file under the same port is renamed to the name it announces; new ones are\n"
         "added. The search request goes to --broadcast, else to the address in the\n"
         "environment variable VARKO_DISCOVERY_BROADCAST, else to 255.255.255.255.\n"},
        {"set-serial",
         RunSetSerial,
         Lock::taken,
         {},
         "set-serial FILE NAME SERIAL",
         "store a serial number (at most 32 characters) in a printer",
         ""},
        {"head-history",
         RunHeadHistory,
         Lock::taken,
         {{"units", true}},
         "head-history FILE NAME [--units in|mm]",
         "print a printer's head history report",
         ""},
        {"reset-head",
         RunResetHead,
         Lock::taken,
         {{"yes", false}, {"no-record", false}},
         "reset-head FILE NAME... [--yes] [--no-record]",
         "reset the head odometer of printers",
         "Asks for each printer on the terminal. Without a terminal the answer is No\n"
         "unless --yes is given. Each reset is noted in the odometer history as a head\n"
         "change (--no-record: not noted).\n"},
        {"test-page",
         RunTestPage,
         Lock::taken,
         {{"tpx", false}},
         "test-page FILE [NAME...] [--tpx]",
         "print the RLX (or, with --tpx, the TPX) test page",
         "The library does not report failures of test pages; a printer that is off\n"
         "prints nothing and no error is shown.\n"},
        {"print-odometers",
         RunPrintOdometers,
         Lock::taken,
         {{"units", true}},
         "print-odometers FILE [NAME...] [--units in|mm]",
         "let printers print their odometer report",
         ""},
        {"print-head-history",
         RunPrintHeadHistory,
         Lock::taken,
         {{"units", true}},
         "print-head-history FILE [NAME...] [--units in|mm]",
         "let printers print their head history",
         ""},
        {"send",
         RunSend,
         Lock::taken,
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
         Lock::none,
         {{"since", true}, {"until", true}, {"json", false, 'j'}, {"csv", false}, {"backup", true}},
         "history FILE [NAME...] [--since DATE] [--until DATE] [--json|--csv]\n"
         "       history --backup COPY",
         "print the odometer readings kept for printers",
         "Prints every odometer reading that list and the window have kept for each\n"
         "printer, oldest first: when it was first and last seen (equal readings in a\n"
         "row are one entry), head and total usage in the unit they were read in, and\n"
         "head changes (a lower head value, or a reset through reset-head or the\n"
         "window). Asks no printer and needs no lock. A printer of the file is matched\n"
         "to the readings last taken under exactly its name and port, or to none (never\n"
         "by name or port alone). DATE is UTC: 2024-05-01\n"
         "or 2024-05-01T14:30; --until takes in the whole day of a date; --since after\n"
         "--until is refused. --backup COPY writes a consistent copy of the whole history\n"
         "to the new file COPY (never replacing one), also while list is recording.\n"},
        {"forecast",
         RunForecast,
         Lock::none,
         {{"json", false, 'j'}, {"csv", false}, {"due-within", true}},
         "forecast FILE [NAME...] [--json|--csv] [--due-within DAYS]",
         "print each printer's head wear rate and when its head is due",
         "From the readings since each printer's last head change: the wear rate in\n"
         "inches per day (robust to gaps and to a single odd reading) and, where the\n"
         "model's head life is set (see head-life), the days left and the date the\n"
         "head reaches it, with the range of days left that the spread of the readings\n"
         "allows. A rate needs three readings over a day since the head change.\n"
         "--due-within DAYS lists only the printers whose head is due within DAYS and\n"
         "exits 1 when there is any (0 and no output otherwise): for MAILTO in cron.\n"
         "Asks no printer and needs no lock.\n"},
        {"head-life",
         RunHeadLife,
         Lock::none,
         {},
         "head-life [MODEL [INCHES|none]]",
         "set or show the head life of a printer model",
         "Sets the head life of MODEL (exactly as the list shows the model) in inches;\n"
         "'none' clears it. With MODEL alone shows it; without operands lists every\n"
         "model's head life. The forecast assumes none that is not set.\n"},
        {"metrics",
         RunMetrics,
         Lock::none,
         {{"textfile", true}},
         "metrics FILE [NAME...] [--textfile DIR]",
         "print the fleet's latest readings for a monitoring system",
         "Prints, in the Prometheus text format, each printer's latest odometers (in\n"
         "metres), when it was last read, whether it answered at the fleet's latest\n"
         "reading, and its head life and the time left until its head is due (in\n"
         "seconds) where they are known; every series is labelled with the printer's\n"
         "name, serial number, model and port. From the odometer history alone: asks no\n"
         "printer and needs no lock. --textfile DIR writes DIR/odomira.prom instead, by\n"
         "a temporary file renamed over the old one, for the node exporter's textfile\n"
         "collector.\n"},
    });
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
    h += "\nOptions of every command: -h (--help), -q (--quiet: results only). -j is\n"
         "--json. Commands that talk to printers also take --wait-lock SECONDS.\n"
         "\nExit status: 0 success, 1 a printer or the file failed or the results could not\n"
         "be written, 2 bad usage, 75 another program held the lock (try again later).\n"
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
    h += COMMON_OPTIONS_HELP;
    if (c.lock == Lock::taken)
        h += WAIT_LOCK_HELP;
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
    if (auto wait = r.args.Value("wait-lock"))
    {
        auto seconds = ParseInteger(*wait, 0, INT_MAX);
        if (!seconds || (*wait)[0] == '+')
        {
            r.text = "--wait-lock takes a whole number of seconds, not '" + *wait + "'";
            return r;
        }
        r.lockWait = std::chrono::seconds(*seconds);
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
        return io.FinishOutput() ? eExitOk : eExitFailed;
    case CliInvocation::eRun:
        break;
    }

    AfxSetAppTitle(PROGRAM_NAME);
    io.SetQuiet(invocation.args.Has("quiet"));
    ConsolePrompt prompt(in, err, stdinIsTerminal);
    prompt.Install();
    CommandContext context{invocation.command, invocation.args, io, prompt, invocation.lockWait};
    int status = invocation.run(context);
    // Results that did not reach their reader are a failure, whatever the command did;
    // a status that already says what went wrong is kept.
    if (!io.FinishOutput() && status == eExitOk)
        status = eExitFailed;
    return status;
}

} // namespace cli
