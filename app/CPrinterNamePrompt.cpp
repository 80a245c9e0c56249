#include "CPrinterNamePrompt.h"

#include "Resource.h"
#include "StringTable.h"

namespace
{
CString Joined(const std::vector<CString>& names, std::size_t count)
{
    CString joined;
    for (std::size_t i = 0; i < count && i < names.size(); ++i)
    {
        if (i)
            joined += ", ";
        joined += names[i];
    }
    return joined;
}
} // namespace

CPrinterNamePrompt::CPrinterNamePrompt(const CString& printerName)
    : m_name(printerName), m_forward(GetUserPrompt()), m_thread(std::this_thread::get_id())
{
    m_previous = SetUserPrompt(this);
}

CPrinterNamePrompt::~CPrinterNamePrompt()
{
    SetUserPrompt(m_previous);
}

int CPrinterNamePrompt::MessageBox(const CString& text, const CString& caption, UINT type)
{
    if (std::this_thread::get_id() != m_thread)
        return m_forward->MessageBox(text, caption, type);
    CString details;
    return m_forward->MessageBox(WithPrinterNames(text, {m_name}, details), caption, type);
}

int CPrinterNamePrompt::MessageBoxWithDetails(const CString& text, const CString& caption,
                                              UINT type, const CString& details)
{
    if (std::this_thread::get_id() != m_thread)
        return m_forward->MessageBoxWithDetails(text, caption, type, details);
    CString none;
    return m_forward->MessageBoxWithDetails(WithPrinterNames(text, {m_name}, none), caption, type,
                                            details);
}

CString CPrinterNamePrompt::WithPrinterNames(const CString& text, const std::vector<CString>& names,
                                             CString& details)
{
    details.Empty();
    if (names.empty())
        return text;
    CString which;
    if (names.size() == 1)
        which.Format(LoadStringById(IDS_FOR_PRINTER).GetString(), names[0].GetString());
    else if (names.size() <= NAMES_IN_TEXT)
        which.Format(LoadStringById(IDS_FOR_PRINTERS).GetString(),
                     Joined(names, names.size()).GetString());
    else
    {
        which.Format(LoadStringById(IDS_FOR_MANY_PRINTERS).GetString(),
                     static_cast<int>(names.size()), Joined(names, NAMES_IN_TEXT).GetString(),
                     static_cast<int>(names.size() - NAMES_IN_TEXT));
        for (const CString& name : names)
            details += name + "\n";
    }
    return text + "\n\n" + which;
}
