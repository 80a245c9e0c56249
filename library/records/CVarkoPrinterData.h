#pragma once
// The printer as a program sees it: what is stored about one label printer and the
// queries and commands the printer list runs on it. Every exchange opens the port,
// writes one command, reads at most one reply of up to 1000 bytes, and closes the port
// again, also when it fails; failures arrive as CVarkoPrinterException.
//
// Threading: a record is used by one thread at a time: the user-interface thread, or a
// thread it hands the record to for a while (the program's fleet-query engine asks
// Model(), SerialNumber() and Odometers() there, and gives the record back before the
// user-interface thread touches it again). Model() may store what a USB printer says,
// and every exchange opens and closes the record's one port, so two threads must never
// use one record at once. Records are created and deleted on the user-interface thread,
// which also changes the class-wide counters. The download file name alone is guarded,
// because the printer's worker thread clears it after a download. The port is shared
// with that thread's download job: a query or command while a download holds the port is
// refused (system error 170, busy) instead of closing the port under the transfer.
#include "CObject.h"
#include "CString.h"
#include "Export.h"
#include "WinTypes.h"

#include <memory>
#include <mutex>

class CArchive;
class CPortBase;
class CPortUse;

enum EDisplayUnits : int
{
    eUnitsInches = 0,
    eUnitsMillimeters = 1
};

class VARKO_EXPORT CVarkoPrinterData : public CObject
{
public:
    static constexpr DWORD MAX_SERIAL_SIZE = 64;
    // Longest reply a query reads in one piece.
    static constexpr DWORD REPLY_BUFFER_SIZE = 1000;

    CVarkoPrinterData();
    ~CVarkoPrinterData() override;
    CVarkoPrinterData(const CVarkoPrinterData&) = delete;
    CVarkoPrinterData& operator=(const CVarkoPrinterData&) = delete;

    CString Name() const { return m_strName; }
    // Asks the port (only USB ports know one) when no model is stored yet.
    CString Model();
    void Model(const CString& model) { m_strModel = model; }
    // The model as stored, without asking the port.
    CString StoredModel() const { return m_strModel; }
    CString Port() const;
    CString PortDisplayName() const;
    // The download file is the one field a printer's worker thread changes (it clears
    // the name after a successful download) while the user-interface thread may read it.
    CString DownloadFile() const;
    void DownloadFile(const CString& path);

    bool IsBidirectional() const;
    CString SerialNumber() const;
    // Throws code 10 when the escaped text would exceed MAX_SERIAL_SIZE.
    void SetSerialNumber(const CString& serial);
    // first receives the head usage, second the total usage; -1 where none is known.
    void Odometers(int& first, int& second, EDisplayUnits units) const;
    CString HeadHistory(EDisplayUnits units) const;
    // Asks the user first; No sends nothing.
    void ResetHeadOdometer();

    // Name, model and download file; the live printer adds the rest of the record.
    void Serialize(CArchive& ar) override;

    // Pure helpers behind the queries, kept apart from the port traffic.
    static CString ParseSerialNumberReply(const char* reply);
    static void ParseOdometerReply(const char* reply, int& first, int& second);
    static CString EscapeSerialNumber(const CString& serial);
    static char UnitsLetter(EDisplayUnits units) { return units == eUnitsInches ? 'i' : 'm'; }

protected:
    CString m_strName;
    CPortBase* m_pPort;
    CString m_strDownloadFile;
    CString m_strModel;

    // Opens the port, writes the bytes, reads one reply when replyBuffer is given, and
    // closes the port also when a step throws. Returns the count of reply bytes; the
    // reply is ended with a 0 byte. Refused (170) while a download holds the port.
    DWORD Exchange(const void* command, DWORD length, char* replyBuffer) const;
    // The same exchange on a given port, for whoever already holds the port's use.
    static DWORD ExchangeOn(CPortBase* port, const void* command, DWORD length, char* replyBuffer);
    // Takes the port for a query or command; throws 170 while a download holds it.
    class QueryUse
    {
    public:
        explicit QueryUse(const CVarkoPrinterData& printer);
        ~QueryUse();
        QueryUse(const QueryUse&) = delete;
        QueryUse& operator=(const QueryUse&) = delete;

    private:
        CPortUse& m_use;
    };

public:
    // Shared with the printer's download job (CPortUse).
    std::shared_ptr<CPortUse> PortUse() const { return m_portUse; }

private:
    std::shared_ptr<CPortUse> m_portUse;
    mutable std::mutex m_downloadFileLock;
    static int m_nPrinterCount;
    static int m_nRefCount;
};
