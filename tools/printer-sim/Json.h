#pragma once
// Just enough JSON writing for the event log and the control socket: an object builder
// that keeps keys in the order they were added. Bytes that are not printable ASCII are
// written as \u00XX, so any byte string survives (tests compare bytes through "hex").
//
// Threading: none; plain values.
#include <cstdint>
#include <string>

namespace printersim
{

std::string JsonQuote(const std::string& text);
std::string HexBytes(const std::string& bytes);

class JsonObject
{
public:
    JsonObject& Add(const std::string& key, const std::string& value);
    JsonObject& Add(const std::string& key, const char* value);
    JsonObject& Add(const std::string& key, std::int64_t value);
    JsonObject& Add(const std::string& key, std::uint64_t value);
    JsonObject& Add(const std::string& key, int value)
    {
        return Add(key, static_cast<std::int64_t>(value));
    }
    JsonObject& Add(const std::string& key, unsigned value)
    {
        return Add(key, static_cast<std::uint64_t>(value));
    }
    JsonObject& Add(const std::string& key, double value);
    JsonObject& Add(const std::string& key, bool value);
    // value is already JSON (an object or array)
    JsonObject& AddRaw(const std::string& key, const std::string& json);
    std::string Str() const { return m_body + "}"; }

private:
    void Key(const std::string& key);
    std::string m_body = "{";
};

} // namespace printersim
