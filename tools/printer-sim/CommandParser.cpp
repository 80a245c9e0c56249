#include "CommandParser.h"

#include <cstring>

namespace printersim
{

namespace
{

enum class Match
{
    None,
    NeedMore,
    Full
};

struct Pattern
{
    const char* text; // '?' stands for the unit letter
    CommandKind kind;
};

constexpr Pattern PATTERNS[] = {
    {"\nURS\n", CommandKind::SerialQuery},    {"\nURL?\n", CommandKind::OdometerQuery},
    {"\nURH?\n", CommandKind::HistoryQuery},  {"\nURL?p\n", CommandKind::OdometerPrint},
    {"\nURH?p\n", CommandKind::HistoryPrint}, {"\nU\n", CommandKind::TestPageRlx},
    {"\nxa\n", CommandKind::Calibrate},       {"\noLr\r\n", CommandKind::ResetHead},
    {"~WC", CommandKind::TestPageTpx},
};

Match MatchPattern(const Pattern& pattern, const char* p, std::size_t n, Command& out)
{
    std::size_t len = std::strlen(pattern.text);
    std::size_t check = n < len ? n : len;
    char unit = 0;
    for (std::size_t i = 0; i < check; ++i)
    {
        char want = pattern.text[i];
        if (want == '?')
        {
            if (p[i] != 'i' && p[i] != 'm')
                return Match::None;
            unit = p[i];
        }
        else if (p[i] != want)
            return Match::None;
    }
    if (n < len)
        return Match::NeedMore;
    out.kind = pattern.kind;
    out.unit = unit;
    out.bytes.assign(p, len);
    return Match::Full;
}

Match MatchSetSerial(const char* p, std::size_t n, Command& out)
{
    static const char prefix[] = "\nheS\"";
    const std::size_t prefixLen = sizeof(prefix) - 1;
    for (std::size_t i = 0; i < prefixLen && i < n; ++i)
        if (p[i] != prefix[i])
            return Match::None;
    if (n < prefixLen)
        return Match::NeedMore;
    std::string text;
    std::size_t pos = prefixLen;
    while (pos < n)
    {
        if (pos - prefixLen > CommandParser::MAX_ESCAPED_SERIAL)
            return Match::None;
        char c = p[pos];
        if (c == '\\')
        {
            // The sender puts a backslash before every backslash and every quote;
            // undoing it means taking the next byte literally.
            if (pos + 1 >= n)
                return Match::NeedMore;
            text += p[pos + 1];
            pos += 2;
        }
        else if (c == '"')
        {
            if (pos + 1 >= n)
                return Match::NeedMore;
            if (p[pos + 1] != '\r')
                return Match::None;
            if (pos + 2 >= n)
                return Match::NeedMore;
            if (p[pos + 2] != '\n')
                return Match::None;
            out.kind = CommandKind::SetSerial;
            out.unit = 0;
            out.bytes.assign(p, pos + 3);
            out.serial = text;
            return Match::Full;
        }
        else
        {
            text += c;
            ++pos;
        }
    }
    return pos - prefixLen > CommandParser::MAX_ESCAPED_SERIAL ? Match::None : Match::NeedMore;
}

Match MatchAt(const char* p, std::size_t n, Command& out)
{
    bool needMore = false;
    for (const Pattern& pattern : PATTERNS)
    {
        Match m = MatchPattern(pattern, p, n, out);
        if (m == Match::Full)
            return m;
        if (m == Match::NeedMore)
            needMore = true;
    }
    Match m = MatchSetSerial(p, n, out);
    if (m == Match::Full)
        return m;
    if (m == Match::NeedMore)
        needMore = true;
    return needMore ? Match::NeedMore : Match::None;
}

} // namespace

const char* CommandName(CommandKind kind)
{
    switch (kind)
    {
    case CommandKind::SerialQuery:
        return "URS";
    case CommandKind::OdometerQuery:
        return "URL";
    case CommandKind::HistoryQuery:
        return "URH";
    case CommandKind::OdometerPrint:
        return "URLp";
    case CommandKind::HistoryPrint:
        return "URHp";
    case CommandKind::TestPageRlx:
        return "U";
    case CommandKind::TestPageTpx:
        return "~WC";
    case CommandKind::Calibrate:
        return "xa";
    case CommandKind::SetSerial:
        return "heS";
    case CommandKind::ResetHead:
        return "oLr";
    }
    return "?";
}

std::vector<ParseEvent> CommandParser::Feed(const char* data, std::size_t length)
{
    std::string work;
    work.swap(m_pending);
    work.append(data, length);

    std::vector<ParseEvent> events;
    std::string label;
    auto flushLabel = [&]
    {
        if (!label.empty())
        {
            ParseEvent e;
            e.data.swap(label);
            events.push_back(std::move(e));
        }
    };

    std::size_t i = 0;
    while (i < work.size())
    {
        char c = work[i];
        if (c == '\n' || c == '~')
        {
            ParseEvent e;
            e.isCommand = true;
            Match m = MatchAt(work.data() + i, work.size() - i, e.command);
            if (m == Match::Full)
            {
                flushLabel();
                i += e.command.bytes.size();
                events.push_back(std::move(e));
                continue;
            }
            if (m == Match::NeedMore)
            {
                m_pending = work.substr(i);
                break;
            }
        }
        label += c;
        ++i;
    }
    flushLabel();
    return events;
}

std::vector<ParseEvent> CommandParser::Flush()
{
    // The held-back bytes can no longer grow into the command they started, so their
    // first byte is label data. The rest may still hold a complete shorter command (an
    // unfinished heS text can contain LF "U" LF), so it is parsed again.
    std::vector<ParseEvent> events;
    while (!m_pending.empty())
    {
        std::string rest = m_pending.substr(1);
        ParseEvent head;
        head.data = m_pending.substr(0, 1);
        m_pending.clear();
        if (!events.empty() && !events.back().isCommand)
            events.back().data += head.data;
        else
            events.push_back(std::move(head));
        for (ParseEvent& e : Feed(rest.data(), rest.size()))
        {
            if (!e.isCommand && !events.empty() && !events.back().isCommand)
                events.back().data += e.data;
            else
                events.push_back(std::move(e));
        }
    }
    return events;
}

} // namespace printersim
