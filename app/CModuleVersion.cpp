#include "CModuleVersion.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#ifndef ODOMIRA_VERSION_MAJOR
#error "the build defines the program's version"
#endif

namespace
{
// The note that carries this program's version; the link keeps it because it is used.
struct VersionNote
{
    std::uint32_t namesz;
    std::uint32_t descsz;
    std::uint32_t type;
    char name[8];
    std::uint32_t desc[15];
};

constexpr std::uint32_t kFileVersionMS = (ODOMIRA_VERSION_MAJOR << 16) | ODOMIRA_VERSION_MINOR;
constexpr std::uint32_t kFileVersionLS = (ODOMIRA_VERSION_PATCH << 16) | ODOMIRA_VERSION_TWEAK;

[[gnu::used, gnu::section(".note.odomira.version"),
  gnu::aligned(4)]] const VersionNote kVersionNote = {
    8,
    sizeof(VS_FIXEDFILEINFO) + 4 + 4,
    CModuleVersion::NOTE_TYPE,
    "Odomira",
    {CModuleVersion::SIGNATURE, 0x00010000, kFileVersionMS, kFileVersionLS, kFileVersionMS,
     kFileVersionLS, 0x3F, 0, 0x00040004 /* 32-bit Windows */, 1 /* application */, 0, 0, 0,
     // US English, Western code page; then a zero word so the note stays 4-byte aligned.
     0x04E40409, 0}};

// Upper bounds for what a sane program file holds; anything beyond is not searched.
constexpr std::uint64_t kMaxSections = 4096;
constexpr std::uint64_t kMaxNoteSection = 1u << 20;

class File
{
public:
    explicit File(const char* path) : m_fd(::open(path, O_RDONLY | O_CLOEXEC)) {}
    ~File()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool IsOpen() const { return m_fd >= 0; }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const
    {
        auto* out = static_cast<char*>(buffer);
        while (size > 0)
        {
            const ssize_t n = ::pread(m_fd, out, size, static_cast<off_t>(offset));
            if (n <= 0)
                return false;
            out += n;
            offset += static_cast<std::uint64_t>(n);
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int m_fd;
};

// The description of the first note called `name` of type `type` in a block of notes.
bool FindNote(const std::vector<char>& notes, const char* name, std::uint32_t type,
              std::vector<BYTE>& desc)
{
    const std::size_t nameLength = std::strlen(name) + 1;
    std::size_t pos = 0;
    auto align4 = [](std::uint64_t v) { return (v + 3) & ~std::uint64_t(3); };
    while (pos + 12 <= notes.size())
    {
        std::uint32_t header[3];
        std::memcpy(header, notes.data() + pos, sizeof header);
        const std::uint64_t nameStart = pos + 12;
        const std::uint64_t descStart = nameStart + align4(header[0]);
        const std::uint64_t next = descStart + align4(header[1]);
        if (next > notes.size())
            return false;
        if (header[2] == type && header[0] == nameLength &&
            std::memcmp(notes.data() + nameStart, name, nameLength) == 0)
        {
            desc.assign(notes.begin() + static_cast<std::ptrdiff_t>(descStart),
                        notes.begin() + static_cast<std::ptrdiff_t>(descStart + header[1]));
            return true;
        }
        pos = static_cast<std::size_t>(next);
    }
    return false;
}

template <class Ehdr, class Shdr>
bool FindNoteInSections(const File& file, const char* name, std::uint32_t type,
                        std::vector<BYTE>& desc)
{
    Ehdr eh;
    if (!file.ReadAt(0, &eh, sizeof eh) || eh.e_shentsize != sizeof(Shdr) ||
        eh.e_shnum > kMaxSections)
        return false;
    for (unsigned i = 0; i < eh.e_shnum; ++i)
    {
        Shdr sh;
        if (!file.ReadAt(eh.e_shoff + std::uint64_t(i) * sizeof(Shdr), &sh, sizeof sh))
            return false;
        if (sh.sh_type != SHT_NOTE || sh.sh_size > kMaxNoteSection)
            continue;
        std::vector<char> notes(sh.sh_size);
        if (file.ReadAt(sh.sh_offset, notes.data(), notes.size()) &&
            FindNote(notes, name, type, desc))
            return true;
    }
    return false;
}

bool ReadVersionNote(const char* path, std::vector<BYTE>& desc)
{
    File file(path);
    unsigned char ident[EI_NIDENT];
    if (!file.IsOpen() || !file.ReadAt(0, ident, sizeof ident) ||
        std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != ELFDATA2LSB)
        return false;
    if (ident[EI_CLASS] == ELFCLASS64)
        return FindNoteInSections<Elf64_Ehdr, Elf64_Shdr>(file, CModuleVersion::NOTE_NAME,
                                                          CModuleVersion::NOTE_TYPE, desc);
    if (ident[EI_CLASS] == ELFCLASS32)
        return FindNoteInSections<Elf32_Ehdr, Elf32_Shdr>(file, CModuleVersion::NOTE_NAME,
                                                          CModuleVersion::NOTE_TYPE, desc);
    return false;
}
} // namespace

CModuleVersion::CModuleVersion() : VS_FIXEDFILEINFO{}, m_translation{0, 1252} {}

CModuleVersion::~CModuleVersion() = default;

bool CModuleVersion::LoadVersionInfo(const CString& modulePath)
{
    m_translation.charset = 1252;
    *static_cast<VS_FIXEDFILEINFO*>(this) = VS_FIXEDFILEINFO{};
    m_pVersionInfo.reset();

    std::vector<BYTE> desc;
    if (!ReadVersionNote(modulePath.GetString(), desc) || desc.size() < sizeof(VS_FIXEDFILEINFO))
        return false;
    m_pVersionInfo.reset(new BYTE[desc.size()]);
    std::memcpy(m_pVersionInfo.get(), desc.data(), desc.size());
    std::memcpy(static_cast<VS_FIXEDFILEINFO*>(this), desc.data(), sizeof(VS_FIXEDFILEINFO));
    if (desc.size() >= sizeof(VS_FIXEDFILEINFO) + 4)
        std::memcpy(&m_translation, desc.data() + sizeof(VS_FIXEDFILEINFO), 4);
    return dwSignature == SIGNATURE;
}

CString CModuleVersion::ShortVersionText() const
{
    return CString::Formatted("%d.%02d", static_cast<int>(dwFileVersionMS >> 16),
                              static_cast<int>(dwFileVersionMS & 0xFFFF));
}

CString CModuleVersion::FullVersionText() const
{
    return CString::Formatted("%u.%u.%u.%u", dwFileVersionMS >> 16, dwFileVersionMS & 0xFFFF,
                              dwFileVersionLS >> 16, dwFileVersionLS & 0xFFFF);
}

CString CModuleVersion::ReleaseVersionText() const
{
    CString text = CString::Formatted("%u.%u.%u", dwFileVersionMS >> 16, dwFileVersionMS & 0xFFFF,
                                      dwFileVersionLS >> 16);
    if (dwFileVersionLS & 0xFFFF)
        text += CString::Formatted(".%u", dwFileVersionLS & 0xFFFF);
    return text;
}

namespace
{
bool LoadOwnVersion(CModuleVersion& version)
{
    // The kernel's link to the running program's file, whatever it was started as.
    std::vector<char> path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    return n > 0 && version.LoadVersionInfo(CString(path.data(), static_cast<int>(n)));
}
} // namespace

CString CModuleVersion::OwnVersionText()
{
    CModuleVersion version;
    return LoadOwnVersion(version) ? version.ShortVersionText() : CString();
}

CString CModuleVersion::OwnReleaseVersionText()
{
    CModuleVersion version;
    return LoadOwnVersion(version) ? version.ReleaseVersionText() : CString();
}
