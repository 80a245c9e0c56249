#pragma once
// The windows the records open: the configuration dialog on one printer, and the
// network search. Both live in layers above the records, which install them here when
// the library loads; the records only call through these seams.
//
// Threading: the user-interface thread.
#include "CString.h"
#include "WinTypes.h"

#include <functional>

class CVarkoPrinter;
class CWnd;
enum EConfigFlags : unsigned;

// Runs the configuration dialog on printer and, when the user presses OK, takes over
// what the user chose. Returns true on OK.
using ConfigureDialogRunner = bool (*)(CVarkoPrinter& printer, EConfigFlags flags);

// Runs the network search on behalf of owner and hands each answer the user accepted
// (address text, printer name) to found, in the order of the answers. Before that, an
// address for which known is false (a printer that would be added) has had its test
// connection, within the search's own bounds; found gets its outcome: 0 when it took
// the connection, otherwise the library's code for why not. Known addresses are not
// connected to and get 0.
using NetworkSearchKnown = std::function<bool(const CString& address)>;
using NetworkSearchFound =
    std::function<void(const CString& address, const CString& name, DWORD checked)>;
using NetworkSearchRunner = void (*)(CWnd* owner, const NetworkSearchKnown& known,
                                     const NetworkSearchFound& found);

// Each returns the previous seam.
ConfigureDialogRunner SetConfigureDialogRunner(ConfigureDialogRunner runner);
NetworkSearchRunner SetNetworkSearchRunner(NetworkSearchRunner runner);
ConfigureDialogRunner GetConfigureDialogRunner();
NetworkSearchRunner GetNetworkSearchRunner();
