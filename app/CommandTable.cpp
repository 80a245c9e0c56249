#include "CommandTable.h"

#include "Resource.h"

namespace
{
const MenuItem kSeparator{nullptr, 0, {}};
} // namespace

const std::vector<CommandInfo>& Commands()
{
    static const std::vector<CommandInfo> commands = {
        {ID_PRINTER_RESET_HEAD_ODOMETER, "ID_PRINTER_RESET_HEAD_ODOMETER",
         ":/icons/reset-head.svg"},
        {ID_PRINTER_ADD, "ID_PRINTER_ADD", ":/icons/add.svg"},
        {ID_PRINTER_MODIFY, "ID_PRINTER_MODIFY", ":/icons/modify.svg"},
        {ID_PRINTER_DELETE, "ID_PRINTER_DELETE", ":/icons/delete.svg"},
        {ID_PRINTER_AUTODETECT, "ID_PRINTER_AUTODETECT", ":/icons/autodetect.svg"},
        {ID_PRINTER_SET_SERIAL_NUMBER, "ID_PRINTER_SET_SERIAL_NUMBER", ":/icons/serial-number.svg"},
        {ID_VIEW_REFRESH, "ID_VIEW_REFRESH", nullptr},
        {ID_TOOLS_OPTIONS, "ID_TOOLS_OPTIONS", nullptr},
        {ID_PRINT_ODOMETERS, "ID_PRINT_ODOMETERS", ":/icons/print-odometers.svg"},
        {ID_PRINT_HEAD_HISTORY, "ID_PRINT_HEAD_HISTORY", ":/icons/print-head-history.svg"},
        {ID_PRINTER_VIEW_HEAD_HISTORY, "ID_PRINTER_VIEW_HEAD_HISTORY", nullptr},
        {ID_HELP_CONTENTS, "ID_HELP_CONTENTS", nullptr},
        {ID_PRINT_TEST_PAGE_RLX, "ID_PRINT_TEST_PAGE_RLX", ":/icons/test-page.svg"},
        {ID_PRINTER_ODOMETER_HISTORY, "ID_PRINTER_ODOMETER_HISTORY", nullptr},
        {ID_FILE_NEW, "ID_FILE_NEW", nullptr},
        {ID_FILE_OPEN, "ID_FILE_OPEN", nullptr},
        {ID_FILE_SAVE, "ID_FILE_SAVE", nullptr},
        {ID_FILE_SAVE_AS, "ID_FILE_SAVE_AS", nullptr},
        {ID_EDIT_COPY, "ID_EDIT_COPY", nullptr},
        {ID_EDIT_CUT, "ID_EDIT_CUT", nullptr},
        {ID_EDIT_PASTE, "ID_EDIT_PASTE", nullptr},
        {ID_EDIT_SELECT_ALL, "ID_EDIT_SELECT_ALL", nullptr},
        {ID_EDIT_UNDO, "ID_EDIT_UNDO", nullptr},
        {ID_APP_ABOUT, "ID_APP_ABOUT", ":/icons/about.svg"},
        {ID_APP_EXIT, "ID_APP_EXIT", nullptr},
        {ID_NEXT_PANE, "ID_NEXT_PANE", nullptr},
        {ID_PREV_PANE, "ID_PREV_PANE", nullptr},
        {ID_VIEW_TOOLBAR, "ID_VIEW_TOOLBAR", nullptr},
        {ID_VIEW_STATUS_BAR, "ID_VIEW_STATUS_BAR", nullptr},
    };
    return commands;
}

const CommandInfo* FindCommand(UINT id)
{
    for (const CommandInfo& c : Commands())
        if (c.id == id)
            return &c;
    return nullptr;
}

const std::vector<MenuItem>& MainMenu()
{
    static const std::vector<MenuItem> menu = {
        {"&File",
         0,
         {{"&Open Printer Settings File...\tCtrl+O", ID_FILE_OPEN, {}},
          {"&Save Printer Settings File\tCtrl+S", ID_FILE_SAVE_AS, {}},
          kSeparator,
          {"E&xit", ID_APP_EXIT, {}}}},
        {"&Edit", 0, {{"Select All\tCtrl+A", ID_EDIT_SELECT_ALL, {}}}},
        {"&View",
         0,
         {{"&Toolbar", ID_VIEW_TOOLBAR, {}},
          {"&Status Bar", ID_VIEW_STATUS_BAR, {}},
          kSeparator,
          {"&Refresh\tF5", ID_VIEW_REFRESH, {}}}},
        {"&Printer",
         0,
         {{"&Add...", ID_PRINTER_ADD, {}},
          {"&Modify...", ID_PRINTER_MODIFY, {}},
          {"&Delete", ID_PRINTER_DELETE, {}},
          kSeparator,
          {"&Auto-Detect", ID_PRINTER_AUTODETECT, {}},
          kSeparator,
          {"&Set Serial Number", ID_PRINTER_SET_SERIAL_NUMBER, {}},
          kSeparator,
          {"&View Head History", ID_PRINTER_VIEW_HEAD_HISTORY, {}},
          {"&Reset Head Odometer", ID_PRINTER_RESET_HEAD_ODOMETER, {}},
          {"&Print",
           0,
           {{"RLX &Test Page", ID_PRINT_TEST_PAGE_RLX, {}},
            {"&Odometers", ID_PRINT_ODOMETERS, {}},
            {"&Head History", ID_PRINT_HEAD_HISTORY, {}}}},
          // Added after every item the menu has always had, so none of them moves.
          kSeparator,
          {"Odometer &History...", ID_PRINTER_ODOMETER_HISTORY, {}}}},
        {"&Tools", 0, {{"&Options...", ID_TOOLS_OPTIONS, {}}}},
        {"&Help",
         0,
         {{"&Contents\tF1", ID_HELP_CONTENTS, {}},
          kSeparator,
          {"&About Odomira...", ID_APP_ABOUT, {}}}},
    };
    return menu;
}

const MenuItem& ContextMenu(UINT resourceId)
{
    static const MenuItem onItem = {"ContextOnItem",
                                    0,
                                    {{"&Add Printer...", ID_PRINTER_ADD, {}},
                                     {"&Modify Printer...", ID_PRINTER_MODIFY, {}},
                                     {"&Delete Printer(s)", ID_PRINTER_DELETE, {}},
                                     kSeparator,
                                     {"&Set Serial Number", ID_PRINTER_SET_SERIAL_NUMBER, {}},
                                     kSeparator,
                                     {"&View Head History", ID_PRINTER_VIEW_HEAD_HISTORY, {}},
                                     {"Reset Head Odometer", ID_PRINTER_RESET_HEAD_ODOMETER, {}},
                                     {"&Print",
                                      0,
                                      {{"RLX &Test Page", ID_PRINT_TEST_PAGE_RLX, {}},
                                       {"&Odometers", ID_PRINT_ODOMETERS, {}},
                                       {"&Head History", ID_PRINT_HEAD_HISTORY, {}}}},
                                     kSeparator,
                                     {"Odometer &History...", ID_PRINTER_ODOMETER_HISTORY, {}}}};
    static const MenuItem background = {"ContextBackground",
                                        0,
                                        {{"Select All", ID_EDIT_SELECT_ALL, {}},
                                         kSeparator,
                                         {"Add Printer...", ID_PRINTER_ADD, {}},
                                         kSeparator,
                                         {"Auto-Detect Printers", ID_PRINTER_AUTODETECT, {}}}};
    return resourceId == IDR_CONTEXT_ON_ITEM ? onItem : background;
}

const std::vector<UINT>& ToolbarButtons()
{
    static const std::vector<UINT> buttons = {ID_PRINTER_ADD,
                                              ID_PRINTER_MODIFY,
                                              ID_PRINTER_DELETE,
                                              ID_PRINTER_AUTODETECT,
                                              0,
                                              ID_PRINTER_RESET_HEAD_ODOMETER,
                                              ID_PRINTER_SET_SERIAL_NUMBER,
                                              0,
                                              ID_PRINT_TEST_PAGE_RLX,
                                              ID_PRINT_ODOMETERS,
                                              ID_PRINT_HEAD_HISTORY,
                                              0,
                                              ID_APP_ABOUT};
    return buttons;
}

const std::vector<Accelerator>& Accelerators()
{
    static const std::vector<Accelerator> keys = {
        {"Ctrl+A", ID_EDIT_SELECT_ALL},
        {"Ctrl+N", ID_FILE_NEW},
        {"Ctrl+O", ID_FILE_OPEN},
        {"Ctrl+S", ID_FILE_SAVE},
        {"F1", ID_HELP_CONTENTS},
        {"F5", ID_VIEW_REFRESH},
        {"Ctrl+C", ID_EDIT_COPY},
        {"Ctrl+Insert", ID_EDIT_COPY},
        {"Ctrl+V", ID_EDIT_PASTE},
        {"Shift+Insert", ID_EDIT_PASTE},
        {"Ctrl+X", ID_EDIT_CUT},
        {"Shift+Delete", ID_EDIT_CUT},
        {"Ctrl+Z", ID_EDIT_UNDO},
        {"Alt+Backspace", ID_EDIT_UNDO},
        {"F6", ID_NEXT_PANE},
        {"Shift+F6", ID_PREV_PANE},
        // Added for Linux, where every program quits with it.
        {"Ctrl+Q", ID_APP_EXIT},
    };
    return keys;
}
