#pragma once
// The port interface: every byte to or from a printer passes through one of these.
// Ports move bytes only; they never build printer commands and never show messages.
//
// Threading: a port is used by one thread at a time (the user-interface thread for
// queries and reports, the printer's worker thread during a download). No locks.
#include "CObject.h"
#include "CString.h"
#include "DeviceFile.h"
#include "WinTypes.h"

class CArchive;

class CPortBase : public CObject
{
    DECLARE_DYNCREATE(CPortBase)
public:
    CPortBase();
    ~CPortBase() override;

    // Stores or loads the name; concrete ports add their own fields after it.
    void Serialize(CArchive& ar) override;

    // The text the printer list shows in its port column.
    virtual CString DisplayName() const;
    virtual void SetPortName(const CString& name);
    // What discovery compares, ignoring case, with a found port's name.
    virtual CString PortName() const;
    // Maker and model as the device reports them; empty for ports that cannot tell.
    virtual CString DeviceModel();
    // Throws CVarkoPrinterException (code 7 unless the class says otherwise).
    virtual void Open();
    // Never throws; closing a closed port does nothing.
    virtual void Close();
    // written receives how many bytes the device took (fewer on a time-out).
    virtual void Write(const void* buffer, DWORD count, DWORD& written);
    // received is 0 when nothing arrived within the port's read time-out.
    virtual void Read(void* buffer, DWORD capacity, DWORD& received);
    // Ends a download: returns once the device has everything written since Open, and
    // throws when it does not (code 12 when it never will). Ports whose writes return
    // only when the device has the data have nothing to wait for.
    virtual void WaitUntilDelivered() {}
    // other is always a port of the same concrete class; the target ends up closed.
    virtual void CopyFrom(const CPortBase* other);
    virtual bool IsOpen() const;

    // Turns a platform error number into the library's exception: 6 becomes code 7,
    // 87 code 10, anything else travels unchanged and marked as a system error.
    [[noreturn]] static void ThrowPortError(DWORD error);

    // The name the port is opened by, as stored: the device path (\\.\COM3 for serial
    // and parallel ports), the device path of a USB printer, a network printer's address.
    CString DeviceName() const { return m_name; }

protected:
    // The devices Open accepts behind the name (DeviceFile.h): the plain port takes any
    // printer line, the concrete ports their own kind only.
    virtual EDeviceKind DeviceKind() const { return EDeviceKind::ePrinterDevice; }
    // Clears the device's error state and throws the error of the call that just failed.
    [[noreturn]] void ThrowLastDeviceError();
    // Waits, within the handle's write limit, until the device has completed what was
    // written to it (a driver may still hold the last piece when its write returns, and
    // closing the device would drop it). Code 12 when the device never gets there.
    void WaitForWrittenData();

    CString m_name;
    HANDLE m_handle;
};
