#include "LibraryStrings.h"

#include "StringTable.h"

namespace
{
// Texts are stored exactly as shown to users, double blanks included.
const StringTableEntry kLibraryStrings[] = {
    {101, "VarkoPrintersExt"},
    {IDS_PORT_SERIAL, "Serial"},
    {IDS_PORT_PARALLEL, "Parallel"},
    {IDS_PORT_USB, "USB"},
    {IDS_PORT_NETWORK, "Network"},
    {IDS_ERR_BAUD_RATE, "Invalid Baud Rate setting."},
    {IDS_ERR_DATA_BITS, "Invalid Data bits setting."},
    {IDS_ERR_PARITY, "Invalid Parity setting."},
    {IDS_ERR_STOP_BITS, "Invalid Stop bits setting."},
    {IDS_ERR_FLOW_CONTROL, "Invalid Flow control setting."},
    {IDS_ERR_CONFIGURATION, "There is an error in this printer's configuration."},
    {IDS_ERR_PORT_UNAVAILABLE, "That port is unavailable."},
    {IDS_ERR_THREAD, "Could not create Printer thread."},
    {IDS_ERR_CANCELLED, "The user cancelled that operation."},
    {IDS_ERR_PARAMETER, "Invalid Parameter."},
    {IDS_ERR_BIDIRECTIONAL, "Bi-directional communcations is not support with this printer."},
    {IDS_NOT_AVAILABLE, "N/A"},
    {IDS_DEFAULT_PRINTER_NAME, "Printer#"},
    {IDS_NAME_IN_USE, "That printer name has already been used.  Please choose another name."},
    {IDS_PORT_IN_USE, "That printer port has already been used.  Please choose another port."},
    {IDS_SELECT_PORT, "Please select a port."},
    {IDS_CONFIRM_RESET_HEAD, "Are you sure you want to Reset the Head Odometer?"},
    {IDS_ERR_TIMEOUT, "The operation timed out.  Check the following: \n"
                      "1)  Make sure the printer is connected. \n"
                      "2)  Make sure the printer is turned on. \n"
                      "3)  Make sure the printer settings are configured correctly."},
    {IDS_SEARCH_RUNNING, "Another search for network printers is running on this computer.  "
                         "Try again when it has finished."},
};

const bool s_registered = (RegisterLibraryStrings(), true);
} // namespace

void RegisterLibraryStrings()
{
    RegisterStringTable(kLibraryStrings, sizeof kLibraryStrings / sizeof kLibraryStrings[0]);
}
