#pragma once
// The templates of the library's dialogs: numbers, control identifiers and texts. A
// control's symbol is also its objectName, so tests and GUI tests find it by name.
#include "WinTypes.h"

// Printer Settings.
constexpr UINT IDD_PRINTER_CONFIGURE = 3000;
constexpr int IDC_COMM_TYPE = 3000;
constexpr int IDC_SERIAL_PORT = 3001;
constexpr int IDC_PORT_LABEL = 3002;
constexpr int IDC_ADDRESS_LABEL = 3003;
constexpr int IDC_IP_ADDRESS = 3004;
constexpr int IDC_TCP_PORT = 3005;
constexpr int IDC_PARALLEL_PORT = 3006;
constexpr int IDC_PRINTER_NAME = 3007;
constexpr int IDC_SPARE_PORT = 3008;
constexpr int IDC_PRINTER_MODEL = 3009;
constexpr int IDC_PORT_SETTINGS = 3016;
constexpr int IDC_CALIBRATE = 3017;

// Port Settings.
constexpr UINT IDD_SERIAL_PORT_SETTINGS = 3001;
constexpr int IDC_BAUD_RATE = 3008;
constexpr int IDC_DATA_BITS = 3009;
constexpr int IDC_PARITY = 3010;
constexpr int IDC_STOP_BITS = 3011;
constexpr int IDC_FLOW_CONTROL = 3012;
constexpr int IDC_RESTORE_DEFAULTS = 3014;
constexpr int IDC_SETTINGS_TAB = 3015;

// Labels have no identifier of their own.
constexpr int IDC_STATIC = -1;

namespace DialogText
{
inline constexpr const char* OK = "OK";
inline constexpr const char* Cancel = "Cancel";

inline constexpr const char* PrinterSettingsCaption = "Printer Settings";
inline constexpr const char* CommunicationType = "Communication Type:";
inline constexpr const char* Port = "Port:";
inline constexpr const char* TcpIpAddress = "TCP/IP Address:";
inline constexpr const char* PrinterName = "Printer Name:";
inline constexpr const char* PrinterModel = "Printer Model:";
inline constexpr const char* PortSettingsButton = "Port Settings";
inline constexpr const char* Calibrate = "Printer Calibration after download: (RLX Only)";

inline constexpr const char* PortSettingsCaption = "Port Settings";
inline constexpr const char* PortSettingsTab = "Port Settings";
inline constexpr const char* BitsPerSecond = "&Bits per second:";
inline constexpr const char* DataBits = "&Data bits:";
inline constexpr const char* Parity = "&Parity:";
inline constexpr const char* StopBits = "&Stop bits:";
inline constexpr const char* FlowControl = "&Flow Control";
inline constexpr const char* RestoreDefaults = "&Restore Defaults";

// The framework's own data-exchange messages for an integer field.
inline constexpr const char* ParseInteger = "Please enter an integer.";
inline constexpr const char* ParseIntegerRange = "Please enter an integer between %d and %d.";
} // namespace DialogText
