#pragma once
// The program's command table and the resources built from it: every command once, with
// its number, its name (the objectName of its action, "ID_PRINTER_ADD") and its toolbar
// image; the menu bar and the two context menus; the toolbar; the accelerators. Prompts
// and tooltips come from the string table under the command's number. The main window
// builds menus, toolbar and keys from these tables only, so a command cannot be wired in
// one place and forgotten in another.
#include "WinTypes.h"

#include <vector>

struct CommandInfo
{
    UINT id;
    const char* name;
    // Resource path of the 16x16 toolbar image; null for commands without a button.
    const char* icon;
};

// An entry of a menu: an item raising a command, a separator (no text, no id), or a
// submenu (text and children, no id).
struct MenuItem
{
    const char* text;
    UINT id;
    std::vector<MenuItem> children;

    bool IsSeparator() const { return !text; }
    bool IsPopup() const { return text && !id; }
};

struct Accelerator
{
    // In the form QKeySequence reads ("Ctrl+A", "Shift+Insert").
    const char* key;
    UINT id;
};

const std::vector<CommandInfo>& Commands();
// Null for a number that is not in the table.
const CommandInfo* FindCommand(UINT id);

// Resource 128: the menu bar, as a list of popups.
const std::vector<MenuItem>& MainMenu();
// Resources 131 and 132: one popup each; the title is not shown.
const MenuItem& ContextMenu(UINT resourceId);
// Resource 128: toolbar buttons left to right; 0 stands for a separator.
const std::vector<UINT>& ToolbarButtons();
// Resource 128: every accelerator, including those whose command has no handler.
const std::vector<Accelerator>& Accelerators();
