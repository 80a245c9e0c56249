#include "SimPrinter.h"

#include "Crc32.h"
#include "Json.h"

#include <cmath>
#include <cstring>

namespace printersim
{

std::string WithThousands(std::int64_t value)
{
    bool negative = value < 0;
    std::string digits = std::to_string(negative ? -value : value);
    std::string out;
    int n = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it)
    {
        if (n && n % 3 == 0)
            out += ',';
        out += *it;
        ++n;
    }
    if (negative)
        out += '-';
    return std::string(out.rbegin(), out.rend());
}

std::int64_t InUnit(double inches, char unit)
{
    return std::llround(unit == 'm' ? inches * 25.4 : inches);
}

std::string SimPrinter::OdometerReply(char unit) const
{
    return "Head usage = " + WithThousands(InUnit(m_config.headInches, unit)) +
           "\r\nTotal usage = " + WithThousands(InUnit(m_config.totalInches, unit)) + "\r\n";
}

std::string SimPrinter::HistoryReply(char unit) const
{
    std::string out;
    const std::string& h = m_config.history;
    for (std::size_t i = 0; i < h.size(); ++i)
    {
        auto at = [&](const char* token) { return h.compare(i, std::strlen(token), token) == 0; };
        if (at("{head}"))
        {
            out += WithThousands(InUnit(m_config.headInches, unit));
            i += 5;
        }
        else if (at("{total}"))
        {
            out += WithThousands(InUnit(m_config.totalInches, unit));
            i += 6;
        }
        else if (at("{unit}"))
        {
            out += unit == 'm' ? "mm" : "in";
            i += 5;
        }
        else
            out += h[i];
    }
    if (out.size() > MAX_REPLY)
        out.resize(MAX_REPLY);
    return out;
}

std::string SimPrinter::Apply(const Command& command)
{
    switch (command.kind)
    {
    case CommandKind::SerialQuery:
        ++m_counters.serialQueries;
        return m_config.serial + "\r\n";
    case CommandKind::OdometerQuery:
        ++m_counters.odometerQueries;
        return OdometerReply(command.unit);
    case CommandKind::HistoryQuery:
        ++m_counters.historyQueries;
        return HistoryReply(command.unit);
    case CommandKind::OdometerPrint:
        ++m_counters.odometerReports;
        return "";
    case CommandKind::HistoryPrint:
        ++m_counters.historyReports;
        return "";
    case CommandKind::TestPageRlx:
        ++m_counters.testPagesRlx;
        return "";
    case CommandKind::TestPageTpx:
        ++m_counters.testPagesTpx;
        return "";
    case CommandKind::Calibrate:
        ++m_counters.calibrations;
        return "";
    case CommandKind::SetSerial:
        ++m_counters.serialSets;
        m_config.serial = command.serial;
        return "";
    case CommandKind::ResetHead:
        ++m_counters.headResets;
        m_config.headInches = 0;
        return "";
    }
    return "";
}

void SimPrinter::AddLabelData(const std::string& data)
{
    m_counters.labelBytes += data.size();
    m_counters.labelCrc32 = Crc32Update(m_counters.labelCrc32, data.data(), data.size());
    double inches = static_cast<double>(data.size()) * INCHES_PER_LABEL_BYTE;
    m_config.headInches += inches;
    m_config.totalInches += inches;
}

std::string SimPrinter::StateJson(int openClients) const
{
    const Counters& c = m_counters;
    json::Object counters;
    counters.Add("serial_queries", c.serialQueries)
        .Add("odometer_queries", c.odometerQueries)
        .Add("history_queries", c.historyQueries)
        .Add("odometer_reports", c.odometerReports)
        .Add("history_reports", c.historyReports)
        .Add("test_pages_rlx", c.testPagesRlx)
        .Add("test_pages_tpx", c.testPagesTpx)
        .Add("calibrations", c.calibrations)
        .Add("serial_sets", c.serialSets)
        .Add("head_resets", c.headResets)
        .Add("label_bytes", c.labelBytes)
        .Add("bytes_received", c.bytesReceived)
        .Add("connections", c.connections)
        .Add("replies_sent", c.repliesSent);
    json::Object o;
    o.Add("name", m_config.name)
        .Add("kind", KindName(m_config.kind))
        .Add("power", m_config.powered ? "on" : "off")
        .Add("open_clients", openClients)
        .Add("serial", m_config.serial)
        .Add("model", m_config.model)
        .Add("head_in", m_config.headInches)
        .Add("total_in", m_config.totalInches)
        .Add("head_mm", InUnit(m_config.headInches, 'm'))
        .Add("total_mm", InUnit(m_config.totalInches, 'm'))
        .Add("history", m_config.history)
        .Add("label_bytes", c.labelBytes)
        .Add("label_crc32", static_cast<std::uint64_t>(c.labelCrc32))
        .AddRaw("counters", counters.Str())
        .Add("faults", m_config.faults.Describe());
    if (m_config.kind == Kind::Usb)
        o.Add("ieee1284", m_config.ieee1284);
    if (m_config.kind == Kind::Network)
        o.Add("address", m_config.address).Add("tcp_port", m_config.tcpPort);
    return o.Str();
}

} // namespace printersim
