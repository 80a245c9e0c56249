#pragma once
// The program's string table: every text it shows, by number, registered beside the
// library's table so that LoadStringById finds both.
#include "CString.h"
#include "WinTypes.h"

// Registers the table once per process; later calls do nothing.
void RegisterAppStrings();

// The part of a command's prompt string shown in the status bar (before "\n") and the
// part shown as the toolbar button's tooltip (after it). Both are empty for a command
// without a prompt string.
CString CommandPrompt(UINT id);
CString CommandTooltip(UINT id);
