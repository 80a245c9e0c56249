// odomira-cli's words as a user or a script may type them: the input is split at 0
// bytes into the words after the program name, sorted into help, version, a usage
// error or a command with its options, and then taken through the checks each command
// makes before it touches a file (the settings-file operand, --units, and all of add's
// port options). Nothing is run: no file is opened and nothing is sent.
//
// What must hold: every word ends up as exactly one thing; a command runs only with
// options it declares; add accepts only a printer it can describe exactly (one port
// kind, COM1-COM256, LPT1-LPT256, a dotted IPv4 address with a TCP port of 1-65535, no
// control characters in names).
#include "CPrinterSettings.h"
#include "CliApp.h"
#include "CommandHelpers.h"
#include "ConsolePrompt.h"
#include "FuzzSupport.h"
#include "LibraryStrings.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
bool HasControl(const std::string& s)
{
    return std::any_of(s.begin(), s.end(),
                       [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F; });
}

// A decimal number of 1 to digits digits without sign (and without a leading zero
// unless allowed), else -1.
int Number(const std::string& text, std::size_t digits, bool leadingZero = false)
{
    if (text.empty() || text.size() > digits || (!leadingZero && text.size() > 1 && text[0] == '0'))
        return -1;
    int v = 0;
    for (char ch : text)
    {
        if (ch < '0' || ch > '9')
            return -1;
        v = v * 10 + (ch - '0');
    }
    return v;
}

// Operands keep their order and are words that were typed.
bool IsSubsequence(const std::vector<std::string>& part, const std::vector<std::string>& all)
{
    std::size_t j = 0;
    for (const auto& w : all)
        if (j < part.size() && part[j] == w)
            ++j;
    return j == part.size();
}

void CheckAdd(cli::CommandContext& c)
{
    std::string file;
    CPrinterSettings s;
    if (!cli::ParseAddCommand(c, file, s))
        return;
    FUZZ_REQUIRE(!file.empty());
    FUZZ_REQUIRE(!s.name.IsEmpty() && !HasControl(s.name.str()) && !HasControl(s.model.str()));
    FUZZ_REQUIRE(s.name.str() == c.args.Value("name"));
    const std::string port = s.portName.str();
    if (s.portClass == "CSerialPort" || s.portClass == "CParallelPort")
    {
        FUZZ_REQUIRE(port.rfind(s.portClass == "CSerialPort" ? "COM" : "LPT", 0) == 0);
        FUZZ_REQUIRE(Number(port.substr(3), 3) >= 1 && Number(port.substr(3), 3) <= 256);
    }
    else if (s.portClass == "CNetworkPort")
    {
        std::size_t start = 0;
        for (int part = 0; part < 4; ++part)
        {
            std::size_t dot = port.find('.', start);
            FUZZ_REQUIRE((dot == std::string::npos) == (part == 3));
            int octet = Number(port.substr(start, dot - start), 3, true);
            FUZZ_REQUIRE(octet >= 0 && octet <= 255);
            start = dot + 1;
        }
        FUZZ_REQUIRE(s.tcpPort >= 1 && s.tcpPort <= 65535);
    }
    else
    {
        FUZZ_REQUIRE(s.portClass == "CUSBPort");
        FUZZ_REQUIRE(!port.empty() && !HasControl(port));
    }
    const int kinds =
        c.args.Has("serial") + c.args.Has("parallel") + c.args.Has("network") + c.args.Has("usb");
    FUZZ_REQUIRE(kinds == 1);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    RegisterLibraryStrings();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static std::FILE* sink = std::fopen("/dev/null", "w+");
    std::vector<std::string> words;
    std::string word;
    for (std::size_t i = 0; i < size && words.size() < 64; ++i)
    {
        if (data[i] == 0)
        {
            words.push_back(word);
            word.clear();
        }
        else
            word += static_cast<char>(data[i]);
    }
    if (words.size() < 64)
        words.push_back(word);

    cli::CliInvocation r = cli::ParseInvocation(words);
    FUZZ_REQUIRE(!r.text.empty() || r.kind == cli::CliInvocation::eRun);
    if (r.kind != cli::CliInvocation::eRun)
        return 0;
    FUZZ_REQUIRE(r.run && r.options && !words.empty() && r.command == words[0]);
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    FUZZ_REQUIRE(IsSubsequence(r.args.Operands(), rest));
    // A request for help anywhere before "--" is help, never a run.
    auto end = std::find(rest.begin(), rest.end(), "--");
    FUZZ_REQUIRE(std::none_of(rest.begin(), end,
                              [](const std::string& w) { return w == "--help" || w == "-h"; }));
    // Every option given is one the command declares.
    for (const auto& w : rest)
        if (w.size() > 2 && w[0] == '-' && w[1] == '-')
        {
            std::string name = w.substr(2, w.find('=') - 2);
            bool declared = std::any_of(r.options->begin(), r.options->end(),
                                        [&](const cli::OptionRule& o) { return name == o.name; });
            if (!declared)
                FUZZ_REQUIRE(!r.args.Has(name));
        }

    cli::CliIo io(sink, sink, false);
    cli::ConsolePrompt prompt(sink, sink, false);
    cli::CommandContext c{r.command, r.args, io, prompt};
    std::string file;
    std::vector<std::string> names;
    if (cli::TakeFileOperand(c, file, names))
        FUZZ_REQUIRE(!file.empty() && names.size() + 1 == r.args.Operands().size());
    EDisplayUnits units = eUnitsInches;
    if (cli::TakeUnitsOption(c, units))
    {
        auto v = r.args.Value("units");
        FUZZ_REQUIRE(units == ((v && *v == "mm") ? eUnitsMillimeters : eUnitsInches));
        FUZZ_REQUIRE(!v || *v == "in" || *v == "mm");
    }
    if (r.command == "add")
        CheckAdd(c);
    return 0;
}
