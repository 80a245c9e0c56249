// The settings store's value file ("Name"=dword:..., hex:..., "text" lines) as it may be
// found on disk: edited by hand, written by another version, or damaged. The input
// becomes the value file of a key; then values are written and read through the store's
// own calls, as the program does.
//
// What must hold:
// - a write either succeeds or fails with the file left exactly as it was;
// - after a write, the value written reads back with its type and bytes, for any name
//   and any bytes (the name and the data come from the input);
// - what the store writes, it reads back whole: writing the same value again leaves the
//   file unchanged byte for byte;
// - the heap holds no more than a small multiple of the file while a value is written.
#include "FuzzSupport.h"
#include "SettingsStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <strings.h>
#include <vector>

namespace
{
const char kKey[] = "Software\\Varko Technologies Corporation\\Fuzz";
const DWORD kProbe = 0x5eed1234;

struct Store
{
    std::string valuesFile;
    HKEY key = nullptr;
    Store()
    {
        // Memory-backed when possible: every write of the store is flushed to disk.
        std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string root = base + "/odomira-fuzz-store-XXXXXX";
        if (!::mkdtemp(root.data()))
            fuzz::Fail("mkdtemp", __FILE__, __LINE__);
        ::setenv("VARKO_SETTINGS_ROOT", root.c_str(), 1);
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, "", 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != 0)
            fuzz::Fail("RegCreateKeyExA", __FILE__, __LINE__);
        valuesFile = root + "/user/Varko Technologies Corporation/Fuzz/.values";
    }
    ~Store() { RegCloseKey(key); }
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Spill(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

LONG SetProbe(HKEY key)
{
    return RegSetValueExA(key, "FuzzProbe", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kProbe),
                          4);
}

// Reads a value back whole; false when the store does not find it.
bool Query(HKEY key, const char* name, DWORD& type, std::vector<BYTE>& data)
{
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != 0)
        return false;
    data.assign(size, 0);
    DWORD got = size;
    if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &got) != 0)
        return false;
    FUZZ_REQUIRE(got == size);
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Store store;
    static bool watching = (fuzz::HeapWatch::Install(), true);
    (void)watching;
    const std::string text(reinterpret_cast<const char*>(data), size);
    Spill(store.valuesFile, text);

    // Reading and rewriting the file holds a few copies of it, nothing that a line of
    // it could make larger.
    fuzz::HeapWatch::Start();
    LONG probed = SetProbe(store.key);
    fuzz::HeapWatch::Stop();
    FUZZ_REQUIRE(fuzz::HeapWatch::PeakBytes() <= (1 << 20) + 64 * static_cast<long long>(size));
    if (probed != 0)
    {
        FUZZ_REQUIRE(Slurp(store.valuesFile) == text);
        return 0;
    }
    DWORD type = 0;
    std::vector<BYTE> value;
    FUZZ_REQUIRE(Query(store.key, "FuzzProbe", type, value));
    FUZZ_REQUIRE(type == REG_DWORD && value.size() == 4 &&
                 std::memcmp(value.data(), &kProbe, 4) == 0);

    // A value named and filled from the input: the name up to its first 0 byte.
    std::string name = text.substr(0, std::min<std::size_t>(text.find('\0'), 40));
    if (strcasecmp(name.c_str(), "FuzzProbe") != 0)
    {
        std::vector<BYTE> bytes(data, data + std::min<std::size_t>(size, 300));
        DWORD kind = size % 4 == 0   ? REG_BINARY
                     : size % 4 == 1 ? REG_SZ
                     : size % 4 == 2 ? 0x7
                                     : REG_DWORD;
        if (kind == REG_DWORD)
            bytes.resize(4, 0);
        FUZZ_REQUIRE(RegSetValueExA(store.key, name.c_str(), 0, kind, bytes.data(),
                                    static_cast<DWORD>(bytes.size())) == 0);
        std::vector<BYTE> want = bytes;
        if (kind == REG_SZ)
        {
            // Kept up to the first 0 byte; read back with one terminator.
            want.erase(std::find(want.begin(), want.end(), BYTE(0)), want.end());
            want.push_back(0);
        }
        FUZZ_REQUIRE(Query(store.key, name.c_str(), type, value));
        FUZZ_REQUIRE(type == kind && value == want);
    }

    // What was written reads back whole: writing the same value changes nothing.
    const std::string written = Slurp(store.valuesFile);
    FUZZ_REQUIRE(SetProbe(store.key) == 0);
    FUZZ_REQUIRE(Slurp(store.valuesFile) == written);
    return 0;
}
