#pragma once
// The text of a settings key's value file (SettingsStore.h keeps one per key), read from
// bytes and written back to bytes. Nothing here touches a file: the store reads and
// writes the bytes, so every rule about what the text holds can be checked on strings.
//
// One value per line, in the form the Windows registry editor exports:
//   "Name"=dword:0000000a   a 32-bit number (one to eight hex digits when read)
//   "Name"=hex:01,02        bytes of a REG_BINARY value
//   "Name"=hex(7):01,02     bytes of a value of any other type, the type in hex
//   "Name"="text"           text; \\ and \" stand for themselves, \xNN for a byte
//   @=...                   the key's unnamed value
// Each line ends with '\n'; a '\r' before it is allowed.
//
// Lines it cannot read (comments, hand edits, value types of a later version) are kept
// byte for byte, with any carriage returns they came with, and written back unchanged.
// If such a line starts with a name ("Name"=...), setting or removing that name replaces
// or removes it. File order is kept, so a hand-edited file keeps its lines where the user
// put them. Value names are compared without regard to case, as on the original platform.
//
// Threading: plain values; one object per thread, or the caller's own lock.
#include "WinTypes.h"

#include <string>
#include <string_view>
#include <vector>

// A value's registry type and its bytes (text without a terminator).
struct SettingsValue
{
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const SettingsValue&) const = default;
};

class SettingsValueFile
{
public:
    // Any bytes are accepted: a line that cannot be read is kept as it is. A name given
    // on two readable lines has the later line's value at the earlier line's place, as a
    // registry import would leave it.
    static SettingsValueFile Parse(std::string_view text);
    // The lines in file order: values in the form above, unreadable lines as they came.
    std::string Format() const;

    // The value of that name, or null.
    const SettingsValue* Find(const std::string& name) const;
    // Replaces the first line of that name (which keeps the spelling it had) and drops
    // any later line of that name; a new name goes at the end.
    void Set(const std::string& name, SettingsValue value);
    // Drops every line of that name; false when there was none.
    bool Remove(const std::string& name);

private:
    struct Line
    {
        std::string name;
        bool named = false;  // name holds the value's name
        bool parsed = false; // value is valid; otherwise raw is written back unchanged
        SettingsValue value;
        std::string raw;
    };
    std::vector<Line> m_lines;
};
