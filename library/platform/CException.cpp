#include "CException.h"

#include "StringTable.h"
#include "UserPrompt.h"

#include <cerrno>
#include <cstring>

IMPLEMENT_DYNAMIC(CException, CObject)

CException::~CException() = default;

bool CException::GetErrorMessage(CString&) const
{
    return false;
}

CString AfxNoErrorMessageText()
{
    return "No error message is available.";
}

CString CException::GetReportText(UINT messageId) const
{
    CString text;
    if (GetErrorMessage(text))
        return text;
    if (messageId != 0 && LoadStringById(messageId, text))
        return text;
    return AfxNoErrorMessageText();
}

int CException::ReportError(UINT type, UINT messageId) const
{
    return AfxMessageBox(GetReportText(messageId), type);
}

bool CArchiveException::GetErrorMessage(CString& message) const
{
    const char* name = m_strFileName.IsEmpty() ? "the file" : m_strFileName.GetString();
    switch (m_cause)
    {
    case endOfFile:
        message.Format("An attempt was made to read %s past its end.", name);
        return true;
    case badIndex:
    case badClass:
    case badSchema:
        message.Format("Unexpected file format in %s.", name);
        return true;
    case readOnly:
        message.Format("Tried to write to an archive opened for loading (%s).", name);
        return true;
    case writeOnly:
        message.Format("Tried to read from an archive opened for storing (%s).", name);
        return true;
    default:
        message.Format("An unexpected error occurred while reading or writing %s.", name);
        return true;
    }
}

CFileException CFileException::FromErrno(int err, const CString& fileName)
{
    Cause cause = genericException;
    switch (err)
    {
    case ENOENT:
        cause = fileNotFound;
        break;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        cause = badPath;
        break;
    case EMFILE:
    case ENFILE:
        cause = tooManyOpenFiles;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        cause = accessDenied;
        break;
    case EISDIR:
    case EBADF:
        cause = invalidFile;
        break;
    case ENOSPC:
    case EDQUOT:
        cause = diskFull;
        break;
    case EIO:
        cause = hardIO;
        break;
    case ESPIPE:
        cause = badSeek;
        break;
    case EBUSY:
    case ETXTBSY:
        cause = sharingViolation;
        break;
    default:
        break;
    }
    return CFileException(cause, err, fileName);
}

bool CFileException::GetErrorMessage(CString& message) const
{
    const char* name = m_strFileName.IsEmpty() ? "the file" : m_strFileName.GetString();
    switch (m_cause)
    {
    case fileNotFound:
        message.Format("%s was not found.", name);
        break;
    case accessDenied:
        message.Format("Access to %s was denied.", name);
        break;
    case diskFull:
        message.Format("There is not enough space on the disk to write %s.", name);
        break;
    case endOfFile:
        message.Format("An attempt was made to access %s past its end.", name);
        break;
    case badPath:
        message.Format("%s contains an invalid path.", name);
        break;
    case invalidFile:
        if (m_lOsError == 0)
        {
            message.Format("%s is not a regular file.", name);
            break;
        }
        [[fallthrough]];
    default:
        if (m_lOsError)
            message.Format("An error occurred while accessing %s: %s.", name,
                           std::strerror(m_lOsError));
        else
            message.Format("An unexpected error occurred while accessing %s.", name);
        break;
    }
    return true;
}
