#pragma once
// The named mutex that keeps two programs built on the printer library from running at
// once ("VarkoPrinters"). It is an advisory lock (flock) on a file named after the
// mutex in the private per-user folder /tmp/varko-<uid>, which must be a real folder
// owned by the user with no access for others (a folder someone else planted is never
// used). The folder follows from the user id alone, so every process of the user finds
// the same lock whatever its environment (a desktop session's XDG_RUNTIME_DIR is not
// there for cron or a service). When VARKO_SETTINGS_ROOT relocates the settings (tests,
// the demo), the lock moves with them, to $VARKO_SETTINGS_ROOT/run. The kernel drops
// the lock when the holder ends, however it ends, so a crashed program never blocks
// the next.
//
// Like the named mutex it stands in for, a second holder in the same process is
// refused as well: each CInstanceLock opens the file on its own.
//
// Threading: one object is used by one thread; different objects may be used freely.
#include "CString.h"
#include "Export.h"

class VARKO_EXPORT CInstanceLock
{
public:
    enum EResult
    {
        eAcquired,      // this object now holds the lock
        eHeldElsewhere, // another holder exists (ERROR_ALREADY_EXISTS)
        eFailed         // no lock file could be made; nothing is held
    };

    explicit CInstanceLock(CString name);
    ~CInstanceLock(); // releases the lock if held
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Tries once, without waiting. May be called again after a failure.
    EResult Acquire();
    void Release();
    bool IsHeld() const { return m_held; }
    // The file the lock is taken on; empty when no folder could be used.
    CString LockFilePath() const;

private:
    CString m_name;
    int m_fd = -1;
    bool m_held = false;
};
