// The settings store's value file ("Name"=dword:..., hex:..., "text" lines) as it may be
// found on disk: edited by hand, written by another version, or damaged. The input is
// the file's bytes; the store's reader and writer (SettingsFileFormat.h) read them, set
// and remove values, and write them back, as the store does between reading the file and
// replacing it. (What the store adds around the text, the files, their errors and the
// text terminator, is checked by its own tests.)
//
// What must hold:
// - after a value is set, it reads back from the written bytes with its type and bytes,
//   for any name and any bytes (the name and the data come from the input);
// - what is written reads back whole: reading the written bytes and writing them again
//   gives the same bytes, and setting the same value again changes nothing;
// - a removed value is gone from the written bytes and the others stay;
// - the heap holds no more than a small multiple of the file while a value is written.
#include "FuzzSupport.h"
#include "SettingsFileFormat.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace
{
const DWORD kProbe = 0x5eed1234;
const std::string kProbeName = "FuzzProbe";

SettingsValue Probe()
{
    SettingsValue v;
    v.type = REG_DWORD;
    v.data.resize(4);
    std::memcpy(v.data.data(), &kProbe, 4);
    return v;
}

// The bytes read back and written again, as the next write of the store would see them.
std::string Reread(const std::string& written)
{
    return SettingsValueFile::Parse(written).Format();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::HeapWatch::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Reading and rewriting the file holds a few copies of it, nothing that a line of
    // it could make larger.
    fuzz::HeapWatch::Start();
    SettingsValueFile file = SettingsValueFile::Parse(text);
    file.Set(kProbeName, Probe());
    std::string written = file.Format();
    fuzz::HeapWatch::Stop();
    FUZZ_REQUIRE(fuzz::HeapWatch::PeakBytes() <= (1 << 20) + 64 * static_cast<long long>(size));
    FUZZ_REQUIRE(Reread(written) == written);
    {
        const SettingsValueFile reread = SettingsValueFile::Parse(written);
        const SettingsValue* probe = reread.Find(kProbeName);
        FUZZ_REQUIRE(probe && *probe == Probe());
    }

    // A value named and filled from the input: the name up to its first 0 byte.
    std::string name = text.substr(0, std::min<std::size_t>(text.find('\0'), 40));
    if (strcasecmp(name.c_str(), kProbeName.c_str()) != 0)
    {
        SettingsValue value;
        value.data.assign(data, data + std::min<std::size_t>(size, 300));
        value.type = size % 4 == 0   ? REG_BINARY
                     : size % 4 == 1 ? REG_SZ
                     : size % 4 == 2 ? 0x7
                                     : REG_DWORD;
        if (value.type == REG_DWORD)
            value.data.resize(4, 0);
        file.Set(name, value);
        written = file.Format();
        FUZZ_REQUIRE(Reread(written) == written);
        SettingsValueFile reread = SettingsValueFile::Parse(written);
        const SettingsValue* got = reread.Find(name);
        FUZZ_REQUIRE(got && *got == value);

        // Removing it leaves the probe alone.
        FUZZ_REQUIRE(reread.Remove(name));
        const std::string without = reread.Format();
        SettingsValueFile after = SettingsValueFile::Parse(without);
        FUZZ_REQUIRE(after.Find(name) == nullptr);
        const SettingsValue* probe = after.Find(kProbeName);
        FUZZ_REQUIRE(probe && *probe == Probe());
    }

    // Writing the same value again changes nothing.
    SettingsValueFile again = SettingsValueFile::Parse(written);
    again.Set(kProbeName, Probe());
    FUZZ_REQUIRE(again.Format() == written);
    return 0;
}
