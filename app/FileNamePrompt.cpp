#include "FileNamePrompt.h"

#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"

#include <QFileDialog>
#include <QFileInfo>

namespace
{
class CQtFileNamePrompt : public IFileNamePrompt
{
public:
    bool PromptFileName(QWidget* parent, bool open, const QString& title,
                        const QStringList& filters, QString& path) override
    {
        const QString filter = filters.join(QStringLiteral(";;"));
        const QString chosen = open ? QFileDialog::getOpenFileName(parent, title, path, filter)
                                    : QFileDialog::getSaveFileName(parent, title, path, filter);
        if (chosen.isEmpty())
            return false;
        path = chosen;
        return true;
    }
};

CQtFileNamePrompt g_qtPrompt;
IFileNamePrompt* g_prompt = &g_qtPrompt;

// Field `index` of the document template string (fields are separated by "\n").
QString TemplateField(int index)
{
    return ToQString(LoadStringById(IDR_MAINFRAME)).split(QLatin1Char('\n')).value(index);
}
} // namespace

IFileNamePrompt::~IFileNamePrompt() = default;

IFileNamePrompt* SetFileNamePrompt(IFileNamePrompt* prompt)
{
    IFileNamePrompt* previous = g_prompt == &g_qtPrompt ? nullptr : g_prompt;
    g_prompt = prompt ? prompt : &g_qtPrompt;
    return previous;
}

bool AskFileName(QWidget* parent, bool open, const QString& title, const QStringList& filters,
                 QString& path)
{
    return g_prompt->PromptFileName(parent, open, title, filters, path);
}

bool PromptForFileName(QWidget* parent, bool open, CString& path)
{
    const QStringList filters = {TemplateField(3), ToQString(LoadStringById(AFX_IDS_ALLFILTER))};
    const QString title = ToQString(LoadStringById(open ? AFX_IDS_OPENFILE : AFX_IDS_SAVEFILE));
    QString chosen = ToQString(path);
    if (!g_prompt->PromptFileName(parent, open, title, filters, chosen))
        return false;
    // As the file dialogs of the Windows version did: a name without any extension gets
    // the document's. A name with another extension is taken as typed.
    if (!open && QFileInfo(chosen).suffix().isEmpty() && !chosen.endsWith(QLatin1Char('.')))
        chosen += TemplateField(4);
    path = FromQString(chosen);
    return true;
}
