#pragma once
// The named mutex that keeps two programs built on the printer library from running at
// once ("VarkoPrinters"). It is an advisory lock (flock) on a file named after the
// mutex in a private per-user folder:
// - /run/user/<uid> when it exists and is safely the user's (the login manager's
//   runtime folder);
// - otherwise /tmp/varko-<uid>, made with mode 0700 when missing.
// A folder is used only when lstat and, once it is open, fstat agree that it is a real
// folder (not a link), owned by the user, closed to everyone else; the lock file is
// opened inside it without following links and must be the user's regular file. When
// VARKO_SETTINGS_ROOT relocates the settings (tests, the demo), the lock moves with them,
// to $VARKO_SETTINGS_ROOT/run, checked the same way. The kernel drops the lock when the
// holder ends, however it ends, so a crashed program never blocks the next.
//
// When /run/user/<uid> is used, the lock is also taken in /tmp/varko-<uid> whenever
// that folder is (or can be made) safe: a program started without a login session, such
// as a cron job, has no runtime folder and takes only that one, and the two must still
// exclude each other. A /tmp folder that is not safe is then passed over, since the
// runtime folder already keeps out every program that has one.
//
// When no folder can be made safe (another user made /tmp/varko-<uid> first, or a link
// sits there), Acquire fails and FailureReason says why: the caller must refuse to run,
// since without the lock two programs could drive the printers at once.
//
// Like the named mutex it stands in for, a second holder in the same process is
// refused as well: each CInstanceLock opens the file on its own.
//
// Threading: one object is used by one thread; different objects may be used freely.
#include "CString.h"
#include "Export.h"

#include <string>

class VARKO_EXPORT CInstanceLock
{
public:
    enum EResult
    {
        eAcquired,      // this object now holds the lock
        eHeldElsewhere, // another holder exists (ERROR_ALREADY_EXISTS)
        eFailed         // no safe lock file could be made; nothing is held
    };

    explicit CInstanceLock(CString name);
    // The same lock over other places for /run/user and /tmp (tests).
    CInstanceLock(CString name, std::string runUserBase, std::string tmpBase);
    ~CInstanceLock(); // releases the lock if held
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Tries once, without waiting. May be called again after a failure.
    EResult Acquire();
    void Release();
    bool IsHeld() const { return m_held; }
    // The file the lock is taken on; empty when no folder could be used.
    CString LockFilePath() const;
    // Why the last Acquire failed, in words for the user; empty after any other result.
    CString FailureReason() const { return m_failure; }

private:
    EResult Fail(const std::string& why);

    CString m_name;
    std::string m_runUserBase = "/run/user";
    std::string m_tmpBase = "/tmp";
    // Follows VARKO_SETTINGS_ROOT (the places given by a test do not).
    bool m_bRelocatable = true;
    int m_fd = -1;
    // The lock in the temporary folder, beside the one in the runtime folder.
    int m_companionFd = -1;
    bool m_held = false;
    CString m_failure;
};

// The folder the lock of a user lives in, by the rule above with the given places for
// /run/user and /tmp (tests pass folders of their own): its path and an open descriptor
// of it, or -1 with why in problem. The caller closes the descriptor.
struct InstanceLockFolder
{
    std::string path;
    int fd = -1;
    std::string problem;
};
InstanceLockFolder OpenInstanceLockFolder(const std::string& runUserBase,
                                          const std::string& tmpBase);
