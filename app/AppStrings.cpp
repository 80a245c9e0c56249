#include "AppStrings.h"

#include "Resource.h"
#include "StringTable.h"

#include <mutex>

namespace
{
// Texts are kept exactly as the Windows version shows them, double blanks included.
const StringTableEntry kAppStrings[] = {
    {AFX_IDS_APP_TITLE, "Odomira"},
    {AFX_IDS_IDLEMESSAGE, "Ready"},
    {IDR_MAINFRAME, "Odomira\n\nPrinte\nVarko Printer Settings Files (*.vps)\n.vps\n"
                    "Odomira.Document\nPrinter Document"},
    {IDS_COLUMN_PRINTER_NAME, "Printer Name"},
    {IDS_COLUMN_PORT, "Port"},
    {IDS_COLUMN_SERIAL_NUMBER, "Serial Number"},
    {IDS_COLUMN_TOTAL_USAGE, "Total Usage (%s)"},
    {IDS_ALREADY_RUNNING, "This application cannot be run at the same time as Tessaro "
                          "application.  Please close the other application and restart this "
                          "application."},
    {IDS_COLUMN_HEAD_USAGE, "Head Usage (%s)"},
    {IDS_NOT_SET, "Not Set"},
    {IDS_NOT_AVAILABLE, "N/A"},
    {IDS_INCHES, "Inches"},
    {IDS_MILLIMETERS, "Millimeters"},
    {IDS_INCHES_ABBREVIATION, "in."},
    {IDS_MILLIMETERS_ABBREVIATION, "mm."},
    {IDS_ERROR, "Error!"},
    {IDS_COLUMN_MODEL, "Model"},
    {ID_INDICATOR_CAPS, "CAP"},
    {ID_INDICATOR_NUM, "NUM"},
    {ID_INDICATOR_SCRL, "SCRL"},

    // Command prompts: status bar text, then the toolbar tooltip.
    {ID_PRINTER_RESET_HEAD_ODOMETER,
     "Reset Head Odometer on the selected printer(s)\nReset Head Odometer"},
    {ID_PRINTER_ADD, "Add printer to list\nAdd Printer"},
    {ID_PRINTER_MODIFY, "Modify Printer settings\nModify Printer settings"},
    {ID_PRINTER_DELETE, "Delete Printer(s) from list\nDelete Printer(s)"},
    {ID_PRINTER_AUTODETECT, "Auto-Detect connected printers\nAuto-Detect Printers"},
    {ID_PRINTER_SET_SERIAL_NUMBER,
     "Set Serial Number for the selected printer.\nSet Serial Number"},
    {ID_VIEW_REFRESH, "Ask every printer again and show what it answers\nRefresh"},
    {ID_PRINT_ODOMETERS, "Print the odometer values to the selected printer(s)\nPrint Odometers"},
    {ID_PRINT_HEAD_HISTORY,
     "Prints the head history for the selected printer(s)\nPrint Head History"},
    {ID_PRINTER_VIEW_HEAD_HISTORY,
     "Views the Head history for the selected printer(s)\nView Head History"},
    {ID_HELP_CONTENTS, "the table of contents for the online documentation\nDisplay help file"},
    {ID_PRINT_TEST_PAGE_RLX,
     "Print an RLX test page to the selected printer(s)\nPrint RLX Test Page"},
    {ID_PRINTER_ODOMETER_HISTORY,
     "Show every odometer reading kept for the selected printer, and when its head is due"
     "\nOdometer History"},
    {ID_FILE_NEW, "Create a new document\nNew"},
    {ID_FILE_OPEN, "Open a Printer Settings file\nOpen"},
    {ID_FILE_SAVE, "Save the active document\nSave"},
    {ID_FILE_SAVE_AS, "Save the current Printer settings to a file\nSave"},
    {ID_EDIT_SELECT_ALL, "Select the entire document\nSelect All"},
    {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
    {ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"},
    {ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
    {ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},

    // The framework's standard prompts: the system menu, and commands no menu shows.
    {61184, "Change the window size"},
    {61185, "Change the window position"},
    {61186, "Reduce the window to an icon"},
    {61187, "Enlarge the window to full size"},
    {61188, "Switch to the next document window"},
    {61189, "Switch to the previous document window"},
    {61190, "Close the active window and prompts to save the documents"},
    {61202, "Restore the window to normal size"},
    {61203, "Activate Task List"},
    {ID_FILE_CLOSE, "Close the active document\nClose"},
    {ID_EDIT_CLEAR, "Erase the selection\nErase"},
    {ID_EDIT_CLEAR_ALL, "Erase everything\nErase All"},
    {ID_EDIT_COPY, "Copy the selection and put it on the Clipboard\nCopy"},
    {ID_EDIT_CUT, "Cut the selection and put it on the Clipboard\nCut"},
    {ID_EDIT_FIND, "Find the specified text\nFind"},
    {ID_EDIT_PASTE, "Insert Clipboard contents\nPaste"},
    {ID_EDIT_REPEAT, "Repeat the last action\nRepeat"},
    {ID_EDIT_REPLACE, "Replace specific text with different text\nReplace"},
    {ID_EDIT_UNDO, "Undo the last action\nUndo"},
    {ID_EDIT_REDO, "Redo the previously undone action\nRedo"},
    {ID_WINDOW_SPLIT, "Split the active window into panes\nSplit"},
    {ID_NEXT_PANE, "Switch to the next window pane\nNext Pane"},
    {ID_PREV_PANE, "Switch back to the previous window pane\nPrevious Pane"},

    // The framework's own messages.
    {AFX_IDS_UNTITLED, "Untitled"},
    {AFX_IDP_ASK_TO_SAVE, "Save changes to %s?"},
    {AFX_IDP_FAILED_TO_OPEN_DOC, "Could not open the printer settings file\n%s\n\n%s"},
    {AFX_IDP_FAILED_TO_SAVE_DOC, "Could not save the printer settings file\n%s\n\n%s\n\n"
                                 "The file on disk has not been changed."},
    {AFX_IDS_ALLFILTER, "All Files (*)"},
    {AFX_IDS_OPENFILE, "Open"},
    {AFX_IDS_SAVEFILE, "Save As"},
    {IDS_HELP_MISSING, "The Odomira manual could not be found. It was looked for in:\n\n%s"},
    {IDS_HELP_FAILED, "The Odomira manual could not be opened in a web browser:\n\n%s"},
    {IDS_MAKER_NOTICE, "Copyright (C) Varko Technologies Corporation"},
    // Filling the list while the printers answer.
    {IDS_NOT_ASKED, "Not asked"},
    {IDS_ASKING_PRINTERS, "Asking printers: %d of %d"},
    {IDS_STOPPING_FILL, "Stopping: waiting for %d printer(s) to answer"},
    {IDS_STOP_FILL, "Stop asking the printers (Esc)"},
    {IDS_FOR_PRINTER, "Printer: %s"},
    {IDS_FOR_PRINTERS, "Printers: %s"},
    {IDS_FOR_MANY_PRINTERS, "%d printers: %s and %d more (Show Details... lists them all)"},
    {IDS_REPLACE_FILE, "%s already exists.\nDo you want to replace it?"},
    {IDS_REFRESH_EVERY, "&Refresh the list every"},
    {IDS_REFRESH_MINUTES, "minutes"},
    {IDS_HISTORY_UNAVAILABLE, "%s\n\nThe printer list works as before. Its odometer "
                              "readings are kept meanwhile and written to the history "
                              "once this is put right."},
    {IDS_HISTORY_EXPORT_FAILED, "Could not write the file\n%s\n\n%s"},
    {IDS_HEAD_LIFE_INVALID,
     "Enter the head life as a number from 1 to 1000000000, or leave the field "
     "empty if it is not known."},
};
} // namespace

void RegisterAppStrings()
{
    static std::once_flag once;
    std::call_once(once,
                   [] {
                       RegisterStringTable(
                           kAppStrings, static_cast<int>(sizeof kAppStrings / sizeof *kAppStrings));
                   });
}

namespace
{
CString PromptPart(UINT id, bool tooltip)
{
    CString text;
    if (!LoadStringById(id, text))
        return CString();
    const int newline = text.Find('\n');
    if (newline < 0)
        return tooltip ? CString() : text;
    return tooltip ? text.Mid(newline + 1) : text.Left(newline);
}
} // namespace

CString CommandPrompt(UINT id)
{
    return PromptPart(id, false);
}

CString CommandTooltip(UINT id)
{
    return PromptPart(id, true);
}
