#pragma once
// The fleet a simulator run plays: one PrinterConfig per printer, read from a fleet file
// (INI-like sections, see README.md) or from --printer options, plus the faults each
// printer shows. Parsing is pure so that it can be tested on text.
//
// Threading: none; plain values.
#include <cstdint>
#include <string>
#include <vector>

namespace printersim
{

enum class Kind
{
    Serial,
    Usb,
    Parallel,
    Network
};

const char* KindName(Kind kind);
bool IsBidirectional(Kind kind);

enum class DiscoveryMode
{
    Normal,
    None,         // never answers
    Duplicate,    // answers twice
    Short,        // answer cut to discoveryLength bytes (default 60)
    Long,         // answer padded to discoveryLength bytes (default 600)
    NoNul,        // the name field runs to the end of the record without a 0 byte
    BadSignature, // answer starts with the request signature instead of the answer's
};

enum class DropMode
{
    Close, // orderly close (FIN)
    Reset, // abortive close (RST)
    Keep   // stops taking data but keeps all its TCP stack acknowledged, then closes
};

const char* DropModeName(DropMode mode);

struct Faults
{
    bool silent = false;         // takes every byte, never answers
    int slowMs = 0;              // answers only after this delay
    int splitParts = 0;          // answers in this many writes...
    int splitGapMs = 0;          // ...this far apart
    std::int64_t dropAfter = -1; // network: drop the connection after this many bytes
    DropMode dropMode = DropMode::Close;
    int dropTimes = 0;            // connections to drop; 0 = every one
    std::int64_t stallAfter = -1; // stop reading after this many more bytes...
    int stallMs = 0;              // ...for this long
    std::int64_t throttleBps = 0; // read at most this many bytes per second
    std::int64_t xoffAfter = -1;  // pty kinds: send XOFF after this many more bytes...
    int xoffMs = 0;               // ...and XON this long after
    DiscoveryMode discovery = DiscoveryMode::Normal;
    int discoveryLength = 0;
    std::string discoveryClaim; // the address the answer claims instead of the printer's own
    bool tarpit = false;        // network: connections are never accepted and never refused

    // The faults as a fault command line would set them, "" when there are none.
    std::string Describe() const;
};

// Applies one fault command ("silent", "slow 500", "split 3 50", "drop 1000 reset 1",
// "stall 4096 8000", "throttle 2000", "discovery dup", "clear", ...) to faults.
// Returns an error text, or "" on success.
std::string ApplyFault(Faults& faults, const std::string& text);

struct PrinterConfig
{
    std::string name;
    Kind kind = Kind::Serial;
    std::string model;
    std::string ieee1284; // USB only; derived from the model when empty
    std::string serial;
    double headInches = 0;
    double totalInches = 0;
    std::string history;
    int number = 0;      // COM or LPT number
    std::string link;    // USB link name under usb/, e.g. "lp0"
    std::string address; // network: dotted IPv4
    int tcpPort = 9100;
    bool powered = true;
    int ptyMode = -1; // permission bits for the pty slave; -1 leaves what grantpt set
    Faults faults;
};

struct Fleet
{
    std::vector<PrinterConfig> printers;
};

// Expands \n \r \t \\ \" \, \xHH in a configured value. Returns false on a bad escape.
bool UnescapeValue(const std::string& in, std::string& out);
std::string EscapeValue(const std::string& in);

// Reads a fleet file's text and appends its printers. Returns "" or an error that names
// the line.
std::string ParseFleet(const std::string& text, Fleet& fleet);
// Reads one --printer option ("name=P1,kind=serial,com=3"; \, for a comma in a value).
std::string ParsePrinterSpec(const std::string& text, Fleet& fleet);
// Fills defaults (link names, serials, ID texts) and checks the fleet as a whole:
// unique names, device numbers and addresses, loopback addresses unless allowed.
std::string FinishFleet(Fleet& fleet, bool allowNonLoopback);

bool IsLoopbackAddress(const std::string& dotted);
// Parses dotted IPv4 text strictly (four decimal octets). Returns false on anything else.
bool ParseIPv4(const std::string& dotted, std::uint32_t& hostOrder);

} // namespace printersim
