// show: the stored fields of each printer, port fields included, read from the file
// alone; no printer is asked anything, so no lock is needed.
#include "CommandHelpers.h"
#include "Commands.h"
#include "FleetSession.h"
#include "Json.h"
#include "TextEscaping.h"

#include "CPrinterSettings.h"
#include "CVarkoPrinterData.h"

namespace cli
{
namespace
{
// The port's own codes in words; a value no dialog can set (a file may hold one) is
// shown as its number.
std::string ParityWord(int v)
{
    switch (v)
    {
    case 0:
        return "none";
    case 1:
        return "odd";
    case 2:
        return "even";
    }
    return std::to_string(v);
}

std::string StopBitsWord(int v)
{
    switch (v)
    {
    case 0:
        return "1";
    case 2:
        return "2";
    }
    return "code " + std::to_string(v);
}

std::string FlowWord(int v)
{
    switch (v)
    {
    case 1:
        return "xon";
    case 2:
        return "hardware";
    }
    return std::to_string(v);
}

void Line(std::string& out, const char* label, const std::string& value)
{
    std::string l = "  ";
    l += label;
    l += ':';
    l.append(l.size() < 18 ? 18 - l.size() : 1, ' ');
    out += l + TerminalSafe(value) + '\n';
}

void Text(std::string& out, const CPrinterSettings& s)
{
    out += TerminalSafe(s.name.str()) + '\n';
    Line(out, "Model", s.model.str());
    Line(out, "Download file", s.downloadFile.str());
    Line(out, "Port class", s.portClass.str());
    Line(out, "Calibrate", s.calibrate ? "yes" : "no");
    const std::string cls = s.portClass.str();
    if (cls == "CSerialPort")
    {
        Line(out, "Device path", s.devicePath.str());
        Line(out, "Port name", s.portName.str());
        Line(out, "Speed", std::to_string(s.baudRate));
        Line(out, "Data bits", std::to_string(s.dataBits));
        Line(out, "Parity", ParityWord(s.parity));
        Line(out, "Stop bits", StopBitsWord(s.stopBits));
        Line(out, "Flow control", FlowWord(s.flowControl));
    }
    else if (cls == "CParallelPort")
    {
        Line(out, "Device path", s.devicePath.str());
        Line(out, "Port name", s.portName.str());
    }
    else if (cls == "CNetworkPort")
    {
        Line(out, "Address", s.portName.str());
        Line(out, "TCP port", std::to_string(s.tcpPort));
    }
    else if (cls == "CUSBPort")
    {
        Line(out, "Device path", s.devicePath.str());
    }
}

void Json(json::Writer& j, const CPrinterSettings& s)
{
    j.BeginObject();
    j.Member("name", s.name.str());
    j.Member("model", s.model.str());
    j.Member("download_file", s.downloadFile.str());
    j.Member("port_class", s.portClass.str());
    j.Member("calibrate", s.calibrate);
    j.Key("port");
    j.BeginObject();
    const std::string cls = s.portClass.str();
    if (cls == "CSerialPort")
    {
        j.Member("device_path", s.devicePath.str());
        j.Member("port_name", s.portName.str());
        j.Member("baud_rate", s.baudRate);
        j.Member("data_bits", s.dataBits);
        j.Member("parity", ParityWord(s.parity));
        j.Key("stop_bits");
        if (s.stopBits == 0 || s.stopBits == 2)
            j.Number(s.stopBits == 0 ? 1 : 2);
        else
            j.String(StopBitsWord(s.stopBits));
        j.Member("flow_control", FlowWord(s.flowControl));
    }
    else if (cls == "CParallelPort")
    {
        j.Member("device_path", s.devicePath.str());
        j.Member("port_name", s.portName.str());
    }
    else if (cls == "CNetworkPort")
    {
        j.Member("address", s.portName.str());
        j.Member("tcp_port", static_cast<long long>(s.tcpPort));
    }
    else if (cls == "CUSBPort")
    {
        j.Member("device_path", s.devicePath.str());
    }
    j.EndObject();
    j.EndObject();
}
} // namespace

int RunShow(CommandContext& c)
{
    std::string file;
    std::vector<std::string> names;
    if (!TakeFileOperand(c, file, names))
        return eExitUsage;
    FleetSession session(c.io);
    if (!session.Open(file, FleetSession::eMustExist, false))
        return session.ExitStatus();
    auto chosen = session.Select(names);
    if (c.args.Has("json"))
    {
        json::Writer j;
        BeginJsonDocument(j);
        j.Key("printers");
        j.BeginArray();
        for (CVarkoPrinterData* p : chosen)
            Json(j, session.Printers().GetPrinterSettings(p));
        j.EndArray();
        j.EndObject();
        c.io.Write(j.Text());
        return session.ExitStatus();
    }
    std::string out;
    for (std::size_t i = 0; i < chosen.size(); ++i)
    {
        if (i)
            out += '\n';
        Text(out, session.Printers().GetPrinterSettings(chosen[i]));
    }
    c.io.Write(out);
    return session.ExitStatus();
}

} // namespace cli
