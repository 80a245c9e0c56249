#include "DynamicLibrary.h"

#include <dlfcn.h>
#include <limits.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
CString folderOf(const std::string& path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return CString();
    return CString(path.substr(0, slash));
}

bool isFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
} // namespace

CDynamicLibrary::~CDynamicLibrary()
{
    Free();
}

CString CDynamicLibrary::ThisModuleFolder()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&CDynamicLibrary::ThisModuleFolder), &info) == 0 ||
        !info.dli_fname)
        return CString();
    char resolved[PATH_MAX];
    if (!::realpath(info.dli_fname, resolved))
        return CString();
    return folderOf(resolved);
}

CString CDynamicLibrary::ProgramFolder()
{
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return CString();
    path[n] = '\0';
    return folderOf(path);
}

bool CDynamicLibrary::Load(const CString& name)
{
    Free();
    m_error.Empty();
    if (name.IsEmpty())
    {
        m_error = "no library name";
        return false;
    }
    std::string candidates[3];
    int count = 0;
    if (name.Find('/') >= 0)
        candidates[count++] = name.str();
    else
    {
        for (const CString& folder : {ThisModuleFolder(), ProgramFolder()})
            if (!folder.IsEmpty() && isFile(folder.str() + "/" + name.str()))
            {
                candidates[count++] = folder.str() + "/" + name.str();
                break;
            }
        candidates[count++] = name.str(); // the library path
    }
    for (int i = 0; i < count; ++i)
    {
        ::dlerror();
        m_handle = ::dlopen(candidates[i].c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle)
        {
            m_path = CString(candidates[i]);
            return true;
        }
        const char* why = ::dlerror();
        m_error = why ? why : "cannot load";
    }
    return false;
}

void* CDynamicLibrary::GetProcAddress(const char* symbol) const
{
    if (!m_handle || !symbol)
        return nullptr;
    ::dlerror();
    void* p = ::dlsym(m_handle, symbol);
    if (!p)
    {
        const char* why = ::dlerror();
        m_error = why ? why : "no such symbol";
    }
    return p;
}

void CDynamicLibrary::Free()
{
    if (m_handle)
    {
        ::dlclose(m_handle);
        m_handle = nullptr;
    }
    m_path.Empty();
}
