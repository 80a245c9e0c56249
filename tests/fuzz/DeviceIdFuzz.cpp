// The IEEE 1284 identification a USB printer returns for the device-identification
// request, taken the way the port takes it from the driver: the request is answered
// with the input (what the driver would have copied into the port's 80-byte buffer),
// and the port's DeviceModel splits maker and model out of it. The splitting and the
// length handling are also run on the whole input, at any size.
//
// What must hold: nothing is read beyond what the answer holds; the text never carries
// a 0 byte and never exceeds the answer; maker and model come out as the splitting
// rules say (compared with an independent reading of the same rules).
#include "CUSBPort.h"
#include "CVarkoPrinterException.h"
#include "FuzzSupport.h"
#include "SysCalls.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace
{
const std::uint8_t* g_answer = nullptr;
std::size_t g_answerSize = 0;

// /dev/null stands for the usblp node the port opens.
int FakeFstat(int fd, struct stat* st)
{
    const int r = RealSysCalls().fstat(fd, st);
    if (r == 0 && S_ISCHR(st->st_mode))
        st->st_rdev = makedev(180, 0);
    return r;
}

// The usblp driver copies its answer into the caller's buffer, as long as fits.
int FakeIoctl(int, unsigned long request, void* arg)
{
    std::size_t room = _IOC_SIZE(request);
    if (g_answerSize)
        std::memcpy(arg, g_answer, std::min(room, g_answerSize));
    return 0;
}

// find(x, s): position of x at or after s, -1 when not found or s outside the text.
long Find(const std::string& text, const char* x, long start)
{
    if (start < 0 || start > static_cast<long>(text.size()))
        return -1;
    auto p = text.find(x, static_cast<std::size_t>(start));
    return p == std::string::npos ? -1 : static_cast<long>(p);
}

std::string Mid(const std::string& text, long start, long count)
{
    start = std::max(start, 0L);
    if (count < 0 || start >= static_cast<long>(text.size()))
        return std::string();
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count));
}

std::string ReferenceModel(const std::string& id)
{
    long a = Find(id, "MFG:", 0) + 4;
    long b = Find(id, ";", a);
    std::string maker = Mid(id, a, b - a);
    long m = Find(id, "MDL:", b) + 4;
    std::string model = Mid(id, m, static_cast<long>(id.size()));
    return maker + " " + model;
}

void CheckAnswer(const std::uint8_t* answer, std::size_t size)
{
    CString text;
    if (!CUSBPort::DeviceIdFromAnswer(answer, static_cast<DWORD>(size), text))
        return;
    const std::string t = text.str();
    FUZZ_REQUIRE(size >= 2 && t.size() + 2 <= size);
    FUZZ_REQUIRE(t.find('\0') == std::string::npos);
    FUZZ_REQUIRE(std::memcmp(t.data(), answer + 2, t.size()) == 0);
    FUZZ_REQUIRE(CUSBPort::ModelFromDeviceId(text).str() == ReferenceModel(t));
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Sys().ioctl = &FakeIoctl;
    Sys().fstat = &FakeFstat;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    g_answer = data;
    g_answerSize = size;

    // As the port asks the driver: a device that answers with the input.
    CUSBPort port;
    port.SetPortName("/dev/null");
    const std::string model = port.DeviceModel().str();
    FUZZ_REQUIRE(!port.IsOpen());
    std::uint8_t buffer[CUSBPort::DEVICE_ID_BUFFER] = {};
    if (size > 0) // libFuzzer may hand an empty input as a null pointer
        std::memcpy(buffer, data, std::min(size, sizeof buffer));
    CString text;
    // The driver's length prefix, as far as it fits the buffer, says what came back.
    std::size_t returned =
        std::clamp<std::size_t>((std::size_t(buffer[0]) << 8) | buffer[1], 2, sizeof buffer);
    if (CUSBPort::DeviceIdFromAnswer(buffer, static_cast<DWORD>(returned), text))
        FUZZ_REQUIRE(model == ReferenceModel(text.str()));
    else
        FUZZ_REQUIRE(model.empty());

    // The same rules on answers of any size, and on the whole input as a text.
    CheckAnswer(data, size);
    std::string id(reinterpret_cast<const char*>(data), size);
    id = id.substr(0, id.find('\0'));
    FUZZ_REQUIRE(CUSBPort::ModelFromDeviceId(CString(id)).str() == ReferenceModel(id));
    return 0;
}
