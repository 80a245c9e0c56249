#pragma once
// Numbers of the program's commands, strings, menus, icons, dialogs and controls. They
// are the numbers the Windows version used, so a command, its prompt string and its
// menu item share one number, and the framework's own commands keep theirs.
#include "WinTypes.h"

// Resources that share the main window's number: menu, toolbar, accelerators, icon and
// the document template string.
constexpr UINT IDR_MAINFRAME = 128;
constexpr UINT IDR_ODOMIRATYPE = 129;
constexpr UINT IDI_PRINTER = 130;
constexpr UINT IDR_CONTEXT_ON_ITEM = 131;
constexpr UINT IDR_CONTEXT_BACKGROUND = 132;

// Dialogs and their controls.
constexpr UINT IDD_ABOUTBOX = 100;
constexpr UINT IDD_SERIAL_NUMBER = 130;
constexpr UINT IDD_OPTIONS = 133;
constexpr UINT IDD_ODOMETER_HISTORY = 134;
constexpr UINT IDD_HEAD_LIFE = 135;
constexpr int IDC_SERIAL_NUMBER = 1000;
constexpr int IDC_DISPLAY_UNITS = 1001;
constexpr int IDC_VERSION = 1002;
constexpr int IDC_HISTORY_PRINTER = 1003;
constexpr int IDC_HISTORY_CHART = 1004;
constexpr int IDC_HISTORY_TABLE = 1005;
constexpr int IDC_HISTORY_FORECAST = 1006;
constexpr int IDC_HISTORY_HEAD_LIFE = 1007;
constexpr int IDC_HISTORY_EXPORT = 1008;
constexpr int IDC_HEAD_LIFE_MODEL = 1009;
constexpr int IDC_HEAD_LIFE_VALUE = 1010;
// Options: the timed refresh.
constexpr int IDC_REFRESH_LIST = 1020;
constexpr int IDC_REFRESH_MINUTES = 1021;

// The program's own commands.
constexpr UINT ID_PRINTER_RESET_HEAD_ODOMETER = 32772;
constexpr UINT ID_PRINTER_ADD = 32773;
constexpr UINT ID_PRINTER_MODIFY = 32774;
constexpr UINT ID_PRINTER_DELETE = 32775;
constexpr UINT ID_PRINTER_AUTODETECT = 32776;
constexpr UINT ID_PRINTER_SET_SERIAL_NUMBER = 32780;
constexpr UINT ID_VIEW_REFRESH = 32781;
constexpr UINT ID_TOOLS_OPTIONS = 32783;
constexpr UINT ID_PRINT_ODOMETERS = 32784;
constexpr UINT ID_PRINT_HEAD_HISTORY = 32785;
constexpr UINT ID_PRINTER_VIEW_HEAD_HISTORY = 32787;
constexpr UINT ID_HELP_CONTENTS = 32788;
constexpr UINT ID_PRINT_TEST_PAGE_RLX = 32789;
constexpr UINT ID_PRINTER_ODOMETER_HISTORY = 32790;

// The framework's commands.
constexpr UINT ID_FILE_NEW = 57600;
constexpr UINT ID_FILE_OPEN = 57601;
constexpr UINT ID_FILE_CLOSE = 57602;
constexpr UINT ID_FILE_SAVE = 57603;
constexpr UINT ID_FILE_SAVE_AS = 57604;
constexpr UINT ID_EDIT_CLEAR = 57632;
constexpr UINT ID_EDIT_CLEAR_ALL = 57633;
constexpr UINT ID_EDIT_COPY = 57634;
constexpr UINT ID_EDIT_CUT = 57635;
constexpr UINT ID_EDIT_FIND = 57636;
constexpr UINT ID_EDIT_PASTE = 57637;
constexpr UINT ID_EDIT_REPEAT = 57640;
constexpr UINT ID_EDIT_REPLACE = 57641;
constexpr UINT ID_EDIT_SELECT_ALL = 57642;
constexpr UINT ID_EDIT_UNDO = 57643;
constexpr UINT ID_EDIT_REDO = 57644;
constexpr UINT ID_WINDOW_SPLIT = 57653;
constexpr UINT ID_APP_ABOUT = 57664;
constexpr UINT ID_APP_EXIT = 57665;
constexpr UINT ID_NEXT_PANE = 57680;
constexpr UINT ID_PREV_PANE = 57681;
constexpr UINT ID_VIEW_TOOLBAR = 59392;
constexpr UINT ID_VIEW_STATUS_BAR = 59393;

// Strings.
constexpr UINT AFX_IDS_APP_TITLE = 57344;
constexpr UINT AFX_IDS_IDLEMESSAGE = 57345;
constexpr UINT ID_INDICATOR_CAPS = 59137;
constexpr UINT ID_INDICATOR_NUM = 59138;
constexpr UINT ID_INDICATOR_SCRL = 59139;
constexpr UINT IDS_COLUMN_PRINTER_NAME = 61204;
constexpr UINT IDS_COLUMN_PORT = 61205;
constexpr UINT IDS_COLUMN_SERIAL_NUMBER = 61206;
constexpr UINT IDS_COLUMN_TOTAL_USAGE = 61207;
constexpr UINT IDS_ALREADY_RUNNING = 61208;
constexpr UINT IDS_COLUMN_HEAD_USAGE = 61210;
constexpr UINT IDS_NOT_SET = 61211;
constexpr UINT IDS_NOT_AVAILABLE = 61212;
constexpr UINT IDS_INCHES = 61213;
constexpr UINT IDS_MILLIMETERS = 61214;
constexpr UINT IDS_INCHES_ABBREVIATION = 61215;
constexpr UINT IDS_MILLIMETERS_ABBREVIATION = 61216;
constexpr UINT IDS_ERROR = 61217;
constexpr UINT IDS_COLUMN_MODEL = 61218;

// The framework's own messages; their wording is ours.
constexpr UINT AFX_IDS_UNTITLED = 61440;
constexpr UINT AFX_IDP_ASK_TO_SAVE = 61441;
constexpr UINT AFX_IDP_FAILED_TO_OPEN_DOC = 61442;
constexpr UINT AFX_IDP_FAILED_TO_SAVE_DOC = 61443;
constexpr UINT AFX_IDS_ALLFILTER = 61444;
constexpr UINT AFX_IDS_OPENFILE = 61445;
constexpr UINT AFX_IDS_SAVEFILE = 61446;
constexpr UINT IDS_HELP_MISSING = 61447;
constexpr UINT IDS_HELP_FAILED = 61448;
constexpr UINT IDS_MAKER_NOTICE = 61449;
constexpr UINT IDS_NOT_ASKED = 61450;
constexpr UINT IDS_ASKING_PRINTERS = 61451;
constexpr UINT IDS_STOPPING_FILL = 61452;
constexpr UINT IDS_STOP_FILL = 61453;
// Which printers a message is about.
constexpr UINT IDS_FOR_PRINTER = 61454;
constexpr UINT IDS_FOR_PRINTERS = 61455;
constexpr UINT IDS_FOR_MANY_PRINTERS = 61456;
constexpr UINT IDS_REPLACE_FILE = 61457;
constexpr UINT IDS_REFRESH_EVERY = 61458;
constexpr UINT IDS_REFRESH_MINUTES = 61459;

// The odometer history.
constexpr UINT IDS_HISTORY_UNAVAILABLE = 61460;
constexpr UINT IDS_HISTORY_EXPORT_FAILED = 61461;
constexpr UINT IDS_HEAD_LIFE_INVALID = 61462;
