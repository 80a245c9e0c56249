#pragma once
// A printer on USB, reached by the device path that discovery found. Shown as "USB".
//
// The device is opened shared (the driver itself lets only one program in). A write
// returns when the printer has taken every byte: the driver's write returns once the
// last piece is queued on the bus, so the write then waits for that transfer to
// complete, since closing the device would cancel it. A printer that takes nothing for
// WRITE_STALL_LIMIT_MS ends the write with code 12 (time-out), the bytes not yet taken
// being dropped. A read waits at most READ_WAIT_MS for the printer to answer and
// returns 0 bytes, without an error, when nothing came.
//
// Threading: as CPortBase, one thread at a time.
#include "CPortBase.h"

class CUSBPort : public CPortBase
{
    DECLARE_DYNCREATE(CUSBPort)
public:
    CUSBPort();
    ~CUSBPort() override;

    void Serialize(CArchive& ar) override;
    CString DisplayName() const override;
    CString DeviceModel() override;
    void Open() override;
    void Write(const void* buffer, DWORD count, DWORD& written) override;
    void Read(void* buffer, DWORD capacity, DWORD& received) override;
    void CopyFrom(const CPortBase* other) override;
    virtual void CopySettings(const CUSBPort* other);

    // The identification text in the answer of the device-identification request:
    // two length bytes, most significant first, counting themselves, then the text.
    // A length that does not fit what came back is tried least significant first (some
    // printers send it so), else cut to what came back; the text ends at a 0 byte.
    // False for an answer too short to hold a length, or one whose length is below 2
    // in both byte orders.
    static bool DeviceIdFromAnswer(const BYTE* answer, DWORD size, CString& text);
    // "Maker Model" from an identification text such as MFG:Acme;MDL:M7;CMD:X; (which
    // gives "Acme M7;CMD:X;": the model runs to the end of the text).
    static CString ModelFromDeviceId(const CString& id);

    static constexpr DWORD READ_WAIT_MS = 3000;
    static constexpr DWORD WRITE_STALL_LIMIT_MS = 30000;
    static constexpr DWORD DEVICE_ID_BUFFER = 80;

protected:
    EDeviceKind DeviceKind() const override { return EDeviceKind::eUsbPrinter; }
};
