#pragma once
// String ids of the library's own table (the texts are in LibraryStrings.cpp).
#include "WinTypes.h"

constexpr UINT IDS_PORT_SERIAL = 102;
constexpr UINT IDS_PORT_PARALLEL = 103;
constexpr UINT IDS_PORT_USB = 104;
constexpr UINT IDS_PORT_NETWORK = 105;
constexpr UINT IDS_ERR_BAUD_RATE = 106;
constexpr UINT IDS_ERR_DATA_BITS = 107;
constexpr UINT IDS_ERR_PARITY = 108;
constexpr UINT IDS_ERR_STOP_BITS = 109;
constexpr UINT IDS_ERR_FLOW_CONTROL = 110;
constexpr UINT IDS_ERR_CONFIGURATION = 111;
constexpr UINT IDS_ERR_PORT_UNAVAILABLE = 112;
constexpr UINT IDS_ERR_THREAD = 113;
constexpr UINT IDS_ERR_CANCELLED = 114;
constexpr UINT IDS_ERR_PARAMETER = 115;
constexpr UINT IDS_ERR_BIDIRECTIONAL = 116;
constexpr UINT IDS_NOT_AVAILABLE = 33213;
constexpr UINT IDS_DEFAULT_PRINTER_NAME = 33214;
constexpr UINT IDS_NAME_IN_USE = 33215;
constexpr UINT IDS_PORT_IN_USE = 33216;
constexpr UINT IDS_SELECT_PORT = 33217;
constexpr UINT IDS_CONFIRM_RESET_HEAD = 33218;
constexpr UINT IDS_ERR_TIMEOUT = 33219;
// Beyond the original table: a network search refused because another one runs.
constexpr UINT IDS_SEARCH_RUNNING = 33220;

// Registers the table; done once when the library is loaded, and safe to repeat.
void RegisterLibraryStrings();
