#pragma once
// The registry stand-in. Keys and value names are the ones the Windows version uses,
// so the code that reads and writes settings is written exactly as it was there:
// open or create a key under one of two roots, query or set a typed value, close it.
//
// Where it lives: a key "Software\Varko Technologies Corporation\Odomira" is the folder
// "<root>/Varko Technologies Corporation/Odomira"; its values are kept in the file
// ".values" inside that folder, one value per line in the form the Windows registry
// editor exports ("Name"=dword:0000000a, "Name"=hex:01,02, "Name"="text"), so a user
// can read and edit them; SettingsFileFormat.h reads and writes that text. The roots are
//   HKEY_CURRENT_USER   $XDG_CONFIG_HOME (default ~/.config)
//   HKEY_LOCAL_MACHINE  /etc/xdg
// and the environment variable VARKO_SETTINGS_ROOT moves both, to
// $VARKO_SETTINGS_ROOT/user and $VARKO_SETTINGS_ROOT/machine (tests and the demo use it
// so nothing touches the real settings). Only keys below "Software\Varko Technologies
// Corporation" exist; any other key cannot be opened or created.
//
// Errors are returned, never thrown: ERROR_FILE_NOT_FOUND when the key or the value is
// missing (the two are told apart by which call fails: opening the key, or querying the
// value), ERROR_ACCESS_DENIED when the user may not write there, ERROR_DISK_FULL when
// the file system has no room for the new value file (the old one is kept); other
// failures of the file system are numbered by ErrorMapping.h. Callers that ignore a
// failed write (as the download limit does) simply do not look at the result.
//
// Lines of a value file that this version cannot read (comments, hand edits, value
// types of a later version) are kept as they are when the file is rewritten for another
// value. A value file that exists but cannot be read to its end is never rewritten: the
// write (and a query) fails with the error of the read, ERROR_ACCESS_DENIED for a file
// the user may not read.
//
// Threading: any thread. A write replaces the value file atomically (temporary file,
// rename), so a reader never sees half a file; two processes writing the same key at the
// same moment may lose one of the two updates, as a last-writer-wins store.
#include "CString.h"
#include "Export.h"
#include "WinTypes.h"

struct HKEY__;
using HKEY = HKEY__*;

VARKO_EXPORT extern HKEY const HKEY_CURRENT_USER;
VARKO_EXPORT extern HKEY const HKEY_LOCAL_MACHINE;

constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_SET_VALUE = 0x0002;
constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr LONG ERROR_MORE_DATA = 234;

// The results are the Windows error numbers (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER, ERROR_MORE_DATA, ...).
VARKO_EXPORT LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD samDesired,
                                HKEY* result);
VARKO_EXPORT LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD reserved,
                                  const char* keyClass, DWORD options, DWORD samDesired,
                                  void* securityAttributes, HKEY* result, DWORD* disposition);
// data may be null to ask for the type and size only; *cbData is in and out.
VARKO_EXPORT LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                                   BYTE* data, DWORD* cbData);
VARKO_EXPORT LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD cbData);
VARKO_EXPORT LONG RegDeleteValueA(HKEY key, const char* valueName);
VARKO_EXPORT LONG RegCloseKey(HKEY key);

// The folder that holds a root's keys, "<root>/Varko Technologies Corporation"; empty
// for a handle that is not one of the two roots.
VARKO_EXPORT CString SettingsCompanyFolder(HKEY root);
