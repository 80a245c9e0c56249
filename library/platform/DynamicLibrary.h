#pragma once
// Loading a shared library by name at run time (the USB discovery library is loaded
// afresh each time USB detection runs, and released again at its end).
//
// A bare file name is looked for, in this order, next to the library that holds this
// code, next to the running program, and then on the system's library path; a name
// with a slash is used as it is. Nothing is ever looked for in the current folder.
//
// Threading: one object per use; dlopen itself may be called from any thread.
#include "CString.h"
#include "Export.h"

class VARKO_EXPORT CDynamicLibrary
{
public:
    CDynamicLibrary() = default;
    ~CDynamicLibrary(); // releases
    CDynamicLibrary(const CDynamicLibrary&) = delete;
    CDynamicLibrary& operator=(const CDynamicLibrary&) = delete;

    bool Load(const CString& name);
    // Null when the library is not loaded or lacks the symbol.
    void* GetProcAddress(const char* symbol) const;
    void Free();

    bool IsLoaded() const { return m_handle != nullptr; }
    // Why the last Load or GetProcAddress failed, as the system says it.
    const CString& LastError() const { return m_error; }
    // Where the library was found.
    const CString& LoadedPath() const { return m_path; }

    // The folders searched before the library path.
    static CString ThisModuleFolder();
    static CString ProgramFolder();

private:
    void* m_handle = nullptr;
    CString m_path;
    mutable CString m_error;
};
