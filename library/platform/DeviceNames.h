#pragma once
// Windows-style device names ("\\.\COM3", "\\.\LPT1") are what the settings file
// stores, so a file moves between machines unchanged; they are turned into Linux
// device paths only when a port is opened.
//
// Resolution of a name:
//   1. Strip a leading "\\.\".
//   2. If a device-override folder holds an entry of that name (normally a symbolic
//      link such as COM5 -> /dev/ttyUSB0), that entry is the device. The folders, in
//      order: $VARKO_DEVICE_DIR when set, otherwise
//      ${XDG_CONFIG_HOME:-$HOME/.config}/Varko Technologies Corporation/devices, then
//      /etc/xdg/Varko Technologies Corporation/devices.
//   3. Otherwise the fixed rule: COM1-COM32 -> /dev/ttyS0-31, COM33-COM64 ->
//      /dev/ttyUSB0-31, COM65-COM96 -> /dev/ttyACM0-31, LPT1-LPT8 -> /dev/lp0-7
//      (the names are matched ignoring case, as Windows does).
//   4. A COM or LPT name, or any name with the "\\.\" prefix, that neither rule maps
//      has no device: it resolves to empty text and is never opened.
//   5. Anything else (a USB device path, a path into an override folder) is opened as
//      given.
//
// Threading: reads the environment and the file system only; callable from any thread.
#include "CString.h"

#include <vector>

// The override folders in the order they are searched (only those that are named;
// whether they exist is not checked).
std::vector<CString> DeviceOverrideDirs();
// The first override folder that exists, or empty text.
CString ExistingDeviceOverrideDir();
// The path a device name opens; empty when the name has no device.
CString ResolveDeviceName(const CString& name);
// The Linux device the fixed rule gives for a short name such as COM3, or empty text.
CString DefaultDeviceForName(const CString& shortName);
// Whether a path names an entry inside one of the override folders (COM5, usb/lp0), as
// ResolveDeviceName gives it, without climbing out of the folder on the way.
bool IsDeviceOverrideEntry(const CString& path);
