// What the ports write into and read from the printer settings file, their defaults,
// copying, and the checks on serial settings and network addresses.
#include "CArchive.h"
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinterException.h"
#include "PortTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using porttest::CodeOf;

namespace
{
Bytes Stored(CPortBase& port)
{
    CArchive ar(CArchive::store);
    port.Serialize(ar);
    return ar.Buffer();
}

template <typename Port> std::unique_ptr<Port> Loaded(const Bytes& bytes)
{
    auto port = std::make_unique<Port>();
    CArchive ar(bytes);
    port->Serialize(ar);
    EXPECT_EQ(ar.Remaining(), 0u);
    return port;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Text(const std::string& s)
{
    Bytes b{static_cast<std::uint8_t>(s.size())};
    b.insert(b.end(), s.begin(), s.end());
    return b;
}

struct Settings
{
    int baud, data, parity, stop, flow;
    bool operator==(const Settings&) const = default;
};

Settings SettingsOf(const CSerialPort& p)
{
    Settings s{};
    p.GetSettings(s.baud, s.data, s.parity, s.stop, s.flow);
    return s;
}
} // namespace

TEST(SerialPortStorage, DefaultPortNamedCom1IsStoredByteForByte)
{
    CSerialPort port;
    EXPECT_EQ(SettingsOf(port), (Settings{9600, 8, 0, 0, 2}));
    EXPECT_TRUE(port.PortName().IsEmpty());
    EXPECT_FALSE(port.IsOpen());

    port.SetPortName("COM1");
    Bytes expected = Concat({Text("\\\\.\\COM1"),
                             {0x80, 0x25, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0},
                             Text("COM1")});
    ASSERT_EQ(Stored(port), expected);

    auto back = Loaded<CSerialPort>(expected);
    EXPECT_EQ(back->PortName(), "COM1");
    EXPECT_EQ(back->DisplayName(), "COM1");
    EXPECT_EQ(SettingsOf(*back), (Settings{9600, 8, 0, 0, 2}));
    EXPECT_FALSE(back->IsOpen());
    EXPECT_EQ(Stored(*back), expected);
}

TEST(SerialPortStorage, LoadingTakesStoredValuesWithoutChecking)
{
    // Values SetSettings would refuse still load, so a file is never rejected for them;
    // Open is where they fail (see the line tests).
    Bytes bytes = Concat({Text("\\\\.\\COM7"),
                          {0x39, 0x30, 0, 0, 9, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0},
                          Text("COM7")});
    auto port = Loaded<CSerialPort>(bytes);
    EXPECT_EQ(SettingsOf(*port), (Settings{12345, 9, 5, 1, 0}));
    EXPECT_EQ(Stored(*port), bytes);
}

TEST(SerialPortStorage, TruncatedRecordThrowsArchiveException)
{
    Bytes bytes = Concat({Text("\\\\.\\COM1"), {0x80, 0x25, 0, 0, 8, 0}});
    CSerialPort port;
    CArchive ar(bytes);
    EXPECT_THROW(port.Serialize(ar), CArchiveException);
}

TEST(SerialPortSettings, EachValueIsStoredBeforeTheNextIsChecked)
{
    CSerialPort port;
    EXPECT_EQ(CodeOf([&] { port.SetSettings(9601, 7, 2, 2, 1); }), 1u);
    EXPECT_EQ(SettingsOf(port), (Settings{9600, 8, 0, 0, 2}));

    EXPECT_EQ(CodeOf([&] { port.SetSettings(19200, 9, 0, 0, 2); }), 2u);
    EXPECT_EQ(SettingsOf(port), (Settings{19200, 8, 0, 0, 2}));

    EXPECT_EQ(CodeOf([&] { port.SetSettings(38400, 7, 3, 0, 2); }), 3u);
    EXPECT_EQ(SettingsOf(port), (Settings{38400, 7, 0, 0, 2}));

    // 1 is the platform's code for one and a half stop bits, which is not offered.
    EXPECT_EQ(CodeOf([&] { port.SetSettings(57600, 8, 1, 1, 2); }), 4u);
    EXPECT_EQ(SettingsOf(port), (Settings{57600, 8, 1, 0, 2}));

    EXPECT_EQ(CodeOf([&] { port.SetSettings(110, 7, 2, 2, 0); }), 5u);
    EXPECT_EQ(SettingsOf(port), (Settings{110, 7, 2, 2, 2}));

    EXPECT_EQ(CodeOf([&] { port.SetSettings(256000, 8, 0, 0, 1); }), 0u);
    EXPECT_EQ(SettingsOf(port), (Settings{256000, 8, 0, 0, 1}));
}

TEST(SerialPortSettings, AcceptsExactlyTheFifteenRates)
{
    const std::vector<int> accepted = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                       19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int rate : accepted)
        EXPECT_TRUE(CSerialPort::IsAcceptedBaudRate(rate)) << rate;
    for (int rate : {0, -9600, 50, 150, 230400, 9601, 1200000})
        EXPECT_FALSE(CSerialPort::IsAcceptedBaudRate(rate)) << rate;
}

TEST(ParallelPortStorage, Lpt1IsStoredByteForByte)
{
    CParallelPort port;
    EXPECT_TRUE(port.PortName().IsEmpty());
    EXPECT_TRUE(port.DeviceModel().IsEmpty());
    port.SetPortName("LPT1");
    Bytes expected = Concat({Text("\\\\.\\LPT1"), Text("LPT1")});
    ASSERT_EQ(Stored(port), expected);
    auto back = Loaded<CParallelPort>(expected);
    EXPECT_EQ(back->PortName(), "LPT1");
    EXPECT_EQ(back->DisplayName(), "LPT1");
    EXPECT_FALSE(back->IsOpen());
}

TEST(NetworkPortStorage, AddressAndTcpPortAreStoredByteForByte)
{
    CNetworkPort port;
    EXPECT_EQ(port.m_tcpPort, 9100u);
    EXPECT_TRUE(port.PortName().IsEmpty());
    EXPECT_FALSE(port.IsOpen());

    port.SetIPAddress(192, 168, 0, 50);
    port.m_tcpPort = 6101;
    Bytes expected = Concat({Text("192.168.0.50"), {0xD5, 0x17, 0x00, 0x00}});
    ASSERT_EQ(expected.size(), 17u);
    ASSERT_EQ(Stored(port), expected);
    auto back = Loaded<CNetworkPort>(expected);
    EXPECT_EQ(back->PortName(), "192.168.0.50");
    EXPECT_EQ(back->DisplayName(), "192.168.0.50");
    EXPECT_EQ(back->m_tcpPort, 6101u);
    EXPECT_FALSE(back->IsOpen());
}

TEST(UsbPortStorage, OnlyTheDevicePathIsStored)
{
    CUSBPort fresh;
    EXPECT_EQ(fresh.DisplayName(), "USB");
    EXPECT_TRUE(fresh.PortName().IsEmpty());

    CUSBPort port;
    port.SetPortName("/dev/usb/lp0");
    Bytes expected = Text("/dev/usb/lp0");
    ASSERT_EQ(Stored(port), expected);
    auto back = Loaded<CUSBPort>(expected);
    EXPECT_EQ(back->PortName(), "/dev/usb/lp0");
    EXPECT_EQ(back->DisplayName(), "USB");
    EXPECT_FALSE(back->IsOpen());
}

TEST(PortCreation, EveryPortIsCreatedByItsStoredClassName)
{
    for (const char* name :
         {"CPortBase", "CSerialPort", "CParallelPort", "CNetworkPort", "CUSBPort"})
    {
        const CRuntimeClass* cls = CRuntimeClass::FromName(name);
        ASSERT_NE(cls, nullptr) << name;
        std::unique_ptr<CObject> object(cls->CreateObject());
        ASSERT_NE(object, nullptr) << name;
        EXPECT_STREQ(object->GetRuntimeClass()->m_lpszClassName, name);
        EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CPortBase))) << name;
    }
}

TEST(PortCopy, EveryClassCopiesItsOwnFieldsIntoAClosedPort)
{
    CSerialPort serial;
    serial.SetPortName("COM4");
    serial.SetSettings(19200, 7, 2, 2, 1);
    std::unique_ptr<CPortBase> serialCopy(
        static_cast<CPortBase*>(serial.GetRuntimeClass()->CreateObject()));
    serialCopy->CopyFrom(&serial);
    auto* s = dynamic_cast<CSerialPort*>(serialCopy.get());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SettingsOf(*s), (Settings{19200, 7, 2, 2, 1}));
    EXPECT_EQ(Stored(*s), Stored(serial));
    EXPECT_FALSE(s->IsOpen());

    CParallelPort parallel;
    parallel.SetPortName("LPT2");
    CParallelPort parallelCopy;
    parallelCopy.CopySettings(&parallel);
    EXPECT_EQ(parallelCopy.PortName(), "LPT2");
    EXPECT_EQ(Stored(parallelCopy), Stored(parallel));

    CNetworkPort network;
    network.SetIPAddress(10, 0, 0, 254);
    network.m_tcpPort = 6101;
    CNetworkPort networkCopy;
    networkCopy.CopyFrom(&network);
    EXPECT_EQ(networkCopy.PortName(), "10.0.0.254");
    EXPECT_EQ(networkCopy.m_tcpPort, 6101u);
    EXPECT_FALSE(networkCopy.IsOpen());

    CUSBPort usb;
    usb.SetPortName("/dev/usb/lp3");
    CUSBPort usbCopy;
    usbCopy.CopyFrom(&usb);
    EXPECT_EQ(usbCopy.PortName(), "/dev/usb/lp3");
    EXPECT_FALSE(usbCopy.IsOpen());
}

TEST(PortNames, SerialAndParallelNamesBecomeDevicePaths)
{
    CSerialPort serial;
    serial.SetPortName("COM3");
    EXPECT_EQ(serial.PortName(), "COM3");
    EXPECT_EQ(serial.DisplayName(), "COM3");
    // The device path is the first stored field.
    Bytes stored = Stored(serial);
    EXPECT_EQ(stored[0], 8);
    EXPECT_EQ(std::string(stored.begin() + 1, stored.begin() + 9), "\\\\.\\COM3");

    CParallelPort parallel;
    parallel.SetPortName("LPT2");
    EXPECT_EQ(parallel.DisplayName(), "LPT2");
    stored = Stored(parallel);
    EXPECT_EQ(std::string(stored.begin() + 1, stored.begin() + 9), "\\\\.\\LPT2");
}

TEST(NetworkAddress, OctetsAreReadAsTheOriginalReadThem)
{
    CNetworkPort port;
    BYTE a, b, c, d;
    port.SetIPAddress(10, 0, 0, 254);
    EXPECT_EQ(port.PortName(), "10.0.0.254");
    port.GetIPAddress(a, b, c, d);
    EXPECT_EQ((std::vector<int>{a, b, c, d}), (std::vector<int>{10, 0, 0, 254}));

    struct Case
    {
        const char* text;
        std::vector<int> octets;
    };
    const Case cases[] = {
        {"192.168.1.20", {192, 168, 1, 20}},
        {"300.1.2.3", {44, 1, 2, 3}},
        {"1234.5.6.7", {123, 5, 6, 7}},
        {"", {0, 0, 0, 0}},
        {"12345", {123, 123, 123, 123}},
        {"printer", {0, 0, 0, 0}},
        {"1.2", {1, 2, 1, 2}},
        {"-1.2.3.4", {255, 2, 3, 4}},
        {"1.2.3.", {1, 2, 3, 0}},
    };
    for (const Case& k : cases)
    {
        port.SetPortName(k.text);
        port.GetIPAddress(a, b, c, d);
        EXPECT_EQ((std::vector<int>{a, b, c, d}), k.octets) << k.text;
    }
}

TEST(UsbDeviceId, AnswerLengthIsHandledDefensively)
{
    auto text = [](const Bytes& answer, bool* ok = nullptr)
    {
        CString t;
        bool r = CUSBPort::DeviceIdFromAnswer(answer.data(), static_cast<DWORD>(answer.size()), t);
        if (ok)
            *ok = r;
        return std::string(t.GetString(), t.GetLength());
    };
    auto answer = [](std::uint8_t hi, std::uint8_t lo, const std::string& s)
    {
        Bytes b{hi, lo};
        b.insert(b.end(), s.begin(), s.end());
        return b;
    };
    bool ok = false;
    // The length counts its own two bytes.
    EXPECT_EQ(text(answer(0, 14, "MFG:A;MDL:B;"), &ok), "MFG:A;MDL:B;");
    EXPECT_TRUE(ok);
    // Bytes after the announced length are not part of the text.
    EXPECT_EQ(text(answer(0, 8, "MFG:A;MDL:B;")), "MFG:A;");
    // A length sent least significant first.
    EXPECT_EQ(text(answer(14, 0, "MFG:A;MDL:B;")), "MFG:A;MDL:B;");
    // A length larger than what came back: the answer was cut by the buffer.
    EXPECT_EQ(text(answer(1, 0x40, "MFG:A;MDL:Long")), "MFG:A;MDL:Long");
    // A zero byte ends the text.
    EXPECT_EQ(text(answer(0, 12, std::string("MFG:A\0;MDL:", 11))), "MFG:A");
    EXPECT_EQ(text(answer(0, 2, "")), "");
    text(Bytes{0}, &ok);
    EXPECT_FALSE(ok);
    text(answer(0, 1, "xxxx"), &ok);
    EXPECT_FALSE(ok);
    text(answer(0, 0, ""), &ok);
    EXPECT_FALSE(ok);
}

TEST(UsbDeviceId, MakerAndModelAreSplitAsTheOriginalSplitThem)
{
    EXPECT_EQ(CUSBPort::ModelFromDeviceId("MFG:Acme;MDL:M7;CMD:X;"), "Acme M7;CMD:X;");
    EXPECT_EQ(CUSBPort::ModelFromDeviceId(""), " ");
    // Without "MDL:" (after the maker) the model is the text from position 3 on.
    EXPECT_EQ(CUSBPort::ModelFromDeviceId("MFG:Acme;CMD:X;"), "Acme :Acme;CMD:X;");
    EXPECT_EQ(CUSBPort::ModelFromDeviceId("MDL:M7;MFG:Acme;"), "Acme :M7;MFG:Acme;");
    // Without "MFG:" the maker starts at position 3 too.
    EXPECT_EQ(CUSBPort::ModelFromDeviceId("CMD:X;"), ":X :X;");
    // A maker without its ";" is empty.
    EXPECT_EQ(CUSBPort::ModelFromDeviceId("MFG:Acme"), " :Acme");
}
