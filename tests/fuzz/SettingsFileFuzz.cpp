// The printer settings file as the program reads it: the whole collection is loaded
// from a file by the collection's own loader, with a live printer, a port of any of the
// four kinds and a running printer thread for every record.
//
// What must hold for any bytes:
// - the load either succeeds or throws one of the errors a damaged file gives (the
//   archive's, or the printer error "port unavailable" for a port kind that is none of
//   the four), and a failed load leaves the collection empty;
// - a file that loads saves back, and those bytes read again to the same printers with
//   the same fields and save to the same bytes;
// - the heap never holds more than a bound proportional to the file's size, whatever
//   the counts and lengths inside it announce.
#include "CArchive.h"
#include "CException.h"
#include "CPrinterSettings.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "CVarkoPrinters.h"
#include "FuzzSupport.h"
#include "LibraryStrings.h"

#include <cstdint>
#include <vector>

namespace
{
// Every printer is a record, a port, a worker thread object with its 1 KiB transfer
// buffer and a place in the map: a few KiB at most. The smallest record that makes a
// printer is 17 bytes, so 512 bytes of heap per byte of file is far above what an
// honest load needs and far below what a trusted count or length would cost.
constexpr long long kHeapPerInputByte = 512;
constexpr long long kHeapBase = 2 << 20;

std::vector<CPrinterSettings> Snapshot(const CVarkoPrinters& c)
{
    std::vector<CPrinterSettings> all;
    POSITION pos = c.GetFirstPrinter();
    while (pos)
        all.push_back(c.GetPrinterSettings(c.GetNextPrinter(pos)));
    return all;
}

bool Same(const CPrinterSettings& a, const CPrinterSettings& b)
{
    return a.name == b.name && a.model == b.model && a.downloadFile == b.downloadFile &&
           a.calibrate == b.calibrate && a.portClass == b.portClass && a.portName == b.portName &&
           a.devicePath == b.devicePath && a.baudRate == b.baudRate && a.dataBits == b.dataBits &&
           a.parity == b.parity && a.stopBits == b.stopBits && a.flowControl == b.flowControl &&
           a.tcpPort == b.tcpPort;
}

// Loads path into c; false when the file was refused as damaged.
bool Load(CVarkoPrinters& c, const std::string& path)
{
    try
    {
        c.LoadFromFile(CString(path), nullptr);
        return true;
    }
    catch (const CArchiveException&)
    {
    }
    catch (const CVarkoPrinterException& e)
    {
        // A port kind that is none of the four leaves the printer without a port.
        FUZZ_REQUIRE(e.GetErrorCode() == CVarkoPrinterException::ePortUnavailable);
    }
    return false;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    RegisterLibraryStrings();
    fuzz::HeapWatch::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fuzz::MemoryFile file;
    file.Write(data, size);

    CVarkoPrinters loaded;
    fuzz::HeapWatch::Start();
    bool ok = Load(loaded, file.Path());
    fuzz::HeapWatch::Stop();
    FUZZ_REQUIRE(fuzz::HeapWatch::PeakBytes() <=
                 kHeapBase + kHeapPerInputByte * static_cast<long long>(size));
    if (!ok)
    {
        // All or nothing: no printer of a damaged file stays.
        FUZZ_REQUIRE(loaded.GetPrinterCount() == 0);
        FUZZ_REQUIRE(!loaded.IsModified());
        return 0;
    }

    const std::vector<std::uint8_t> saved = loaded.SaveToBytes();
    const std::vector<CPrinterSettings> before = Snapshot(loaded);
    FUZZ_REQUIRE(static_cast<int>(before.size()) == loaded.GetPrinterCount());

    // The saved bytes hold the same printers: read back record by record with the
    // reader the load uses (without starting a thread per printer a second time), and
    // written again, they give the same bytes.
    CArchive in(saved);
    DWORD count = 0;
    in >> count;
    FUZZ_REQUIRE(count == before.size());
    CArchive out(CArchive::store);
    out << count;
    CVarkoPrinters holder; // only to read each record's fields the way callers see them
    for (DWORD i = 0; i < count; ++i)
    {
        CVarkoPrinter record;
        record.Serialize(in);
        FUZZ_REQUIRE(record.GetPort() != nullptr);
        FUZZ_REQUIRE(Same(before[i], holder.GetPrinterSettings(&record)));
        record.Serialize(out);
    }
    FUZZ_REQUIRE(in.Remaining() == 0);
    FUZZ_REQUIRE(out.Buffer() == saved);
    return 0;
}
