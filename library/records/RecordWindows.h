#pragma once
// The windows the records open: the configuration dialog on one printer, and the
// network search. Both live in layers above the records, which install them here when
// the library loads; the records only call through these seams.
//
// Threading: the user-interface thread.
#include "CString.h"

#include <functional>

class CVarkoPrinter;
class CWnd;
enum EConfigFlags : unsigned;

// Runs the configuration dialog on printer and, when the user presses OK, takes over
// what the user chose. Returns true on OK.
using ConfigureDialogRunner = bool (*)(CVarkoPrinter& printer, EConfigFlags flags);

// Runs the network search on behalf of owner and hands each answer the user accepted
// (address text, printer name) to found, in the order of the answers.
using NetworkSearchFound = std::function<void(const CString& address, const CString& name)>;
using NetworkSearchRunner = void (*)(CWnd* owner, const NetworkSearchFound& found);

// Each returns the previous seam.
ConfigureDialogRunner SetConfigureDialogRunner(ConfigureDialogRunner runner);
NetworkSearchRunner SetNetworkSearchRunner(NetworkSearchRunner runner);
ConfigureDialogRunner GetConfigureDialogRunner();
NetworkSearchRunner GetNetworkSearchRunner();
