#pragma once
// Reads the version a program file carries. The version is set once in the build and
// compiled into the program as an ELF note (name "Odomira", type 1) whose description is
// the fixed version record of the Windows version-information resource followed by its
// translation: thirteen 32-bit fields starting with the signature 0xFEEF04BD, then the
// language and code page. A file without that note has no version.
#include "CString.h"
#include "WinTypes.h"

#include <cstdint>
#include <memory>

struct VS_FIXEDFILEINFO
{
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

class CModuleVersion : public VS_FIXEDFILEINFO
{
public:
    static constexpr DWORD SIGNATURE = 0xFEEF04BD;
    static constexpr const char* NOTE_NAME = "Odomira";
    static constexpr DWORD NOTE_TYPE = 1;

    CModuleVersion();
    virtual ~CModuleVersion();

    // True when the file's fixed version record was found and carries the signature.
    bool LoadVersionInfo(const CString& modulePath);

    // "%d.%02d" of the file version's major and minor numbers ("2.00" for 2.0.0.0).
    CString ShortVersionText() const;
    // All four parts, "2.0.0.0".
    CString FullVersionText() const;
    // The version as releases are numbered: "2.0.0", with a fourth part only when it is
    // not 0.
    CString ReleaseVersionText() const;
    // The running program's version as the About box shows it; empty without one.
    static CString OwnVersionText();
    // The running program's release version (--version); empty without one.
    static CString OwnReleaseVersionText();

    struct Translation
    {
        WORD langID;
        WORD charset;
    };
    Translation m_translation;

private:
    std::unique_ptr<BYTE[]> m_pVersionInfo;
};
