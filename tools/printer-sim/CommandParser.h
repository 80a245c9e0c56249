#pragma once
// Splits the byte stream a printer receives into the commands it understands and label
// data. RLX commands begin with a line feed; the one TPX command ("~WC") may start
// anywhere. Everything that is not a complete command is label data, so a line feed in a
// label graphic only becomes a command if the bytes after it spell one out.
//
// A command can arrive split over several reads. Bytes that may still grow into a
// command are held back until the next Feed decides; Flush hands them over as label data
// when no more bytes are coming (connection closed, line idle).
//
// Threading: none; one parser per printer, used from the simulator's single loop.
#include <string>
#include <vector>

namespace printersim
{

enum class CommandKind
{
    SerialQuery,   // LF "URS" LF
    OdometerQuery, // LF "URL" u LF
    HistoryQuery,  // LF "URH" u LF
    OdometerPrint, // LF "URL" u "p" LF
    HistoryPrint,  // LF "URH" u "p" LF
    TestPageRlx,   // LF "U" LF
    TestPageTpx,   // "~WC"
    Calibrate,     // LF "xa" LF
    SetSerial,     // LF "heS" '"' escaped '"' CR LF
    ResetHead,     // LF "oLr" CR LF
};

// The name written to the event log and used by tests.
const char* CommandName(CommandKind kind);

struct Command
{
    CommandKind kind = CommandKind::SerialQuery;
    char unit = 0;      // 'i' or 'm' for the URL/URH family, else 0
    std::string bytes;  // exactly the bytes that made up the command
    std::string serial; // SetSerial only: the text with the escaping undone
};

struct ParseEvent
{
    bool isCommand = false;
    Command command;
    std::string data; // label bytes when !isCommand
};

class CommandParser
{
public:
    // Longest escaped serial number accepted inside heS; anything longer is label data.
    static constexpr std::size_t MAX_ESCAPED_SERIAL = 256;

    std::vector<ParseEvent> Feed(const char* data, std::size_t length);
    std::vector<ParseEvent> Flush();
    bool HasPending() const { return !m_pending.empty(); }

private:
    std::string m_pending;
};

} // namespace printersim
