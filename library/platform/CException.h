#pragma once
// Framework exception classes. They are thrown by value and caught by reference; each
// knows how to show itself to the user through ReportError, which goes through the
// user-prompt seam.
#include "CObject.h"
#include "CString.h"
#include "Export.h"
#include "WinTypes.h"

class VARKO_EXPORT CException : public CObject
{
    DECLARE_DYNAMIC(CException)
public:
    ~CException() override;
    // Text for the user, if this exception has one of its own; false leaves ReportError
    // to the string id it is given.
    virtual bool GetErrorMessage(CString& message) const;
    // Shows the message in a message box and returns the button pressed. A non-zero
    // messageId is shown when the exception has no text of its own.
    virtual int ReportError(UINT type = MB_OK, UINT messageId = 0) const;
    // The text ReportError would show.
    virtual CString GetReportText(UINT messageId = 0) const;
    // Kept for the framework's catch-and-delete style; nothing to free here.
    void Delete() {}
};

// The framework's text when no message is available.
VARKO_EXPORT CString AfxNoErrorMessageText();

class VARKO_EXPORT CArchiveException : public CException
{
public:
    enum Cause
    {
        none,
        genericException,
        readOnly,
        endOfFile,
        writeOnly,
        badIndex,
        badClass,
        badSchema
    };
    explicit CArchiveException(Cause cause = none, CString fileName = CString())
        : m_cause(cause), m_strFileName(std::move(fileName))
    {
    }
    bool GetErrorMessage(CString& message) const override;

    Cause m_cause;
    CString m_strFileName;
};

class VARKO_EXPORT CFileException : public CException
{
public:
    enum Cause
    {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };
    CFileException(Cause cause, int osError, CString fileName)
        : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName))
    {
    }
    // Builds the exception from errno captured at the failing call.
    static CFileException FromErrno(int err, const CString& fileName);
    bool GetErrorMessage(CString& message) const override;

    Cause m_cause;
    int m_lOsError;
    CString m_strFileName;
};
