#pragma once
// Says which printer a box is about. The library's messages ("That port is
// unavailable.") name no printer; a box raised on this thread while the object lives
// gets the printer's name below the library's text, which stays as it is. Everything
// else the prompt in use does (the answers, the icons) is unchanged.
//
// Threading: created and destroyed on the user-interface thread; boxes of other
// threads pass unchanged.
#include "UserPrompt.h"

#include <thread>
#include <vector>

class CPrinterNamePrompt : public IUserPrompt
{
public:
    explicit CPrinterNamePrompt(const CString& printerName);
    ~CPrinterNamePrompt() override;
    CPrinterNamePrompt(const CPrinterNamePrompt&) = delete;
    CPrinterNamePrompt& operator=(const CPrinterNamePrompt&) = delete;

    int MessageBox(const CString& text, const CString& caption, UINT type) override;
    int MessageBoxWithDetails(const CString& text, const CString& caption, UINT type,
                              const CString& details) override;

    // `text` followed by the printers it concerns: all of them by name when they are
    // few; otherwise the first few and a count, with every name, one per line, in
    // `details`.
    static CString WithPrinterNames(const CString& text, const std::vector<CString>& names,
                                    CString& details);
    // How many names the text itself carries at most.
    static constexpr std::size_t NAMES_IN_TEXT = 10;

private:
    CString m_name;
    IUserPrompt* m_forward;
    IUserPrompt* m_previous;
    std::thread::id m_thread;
};
