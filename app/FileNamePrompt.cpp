#include "FileNamePrompt.h"

#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"
#include "UserPrompt.h"

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
        QFileDialog dialog(parent, title, path, filters.join(QStringLiteral(";;")));
        dialog.setObjectName(QStringLiteral("FileNameDialog"));
        dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        if (!open)
        {
            // The dialog adds the document's extension to a name typed without one
            // before it asks whether to replace the file, so the question is about the
            // file that would be written.
            dialog.setDefaultSuffix(QString::fromLatin1(DOCUMENT_EXTENSION + 1));
            if (!path.isEmpty())
                dialog.selectFile(path);
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        path = dialog.selectedFiles().front();
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
    const QString extension = TemplateField(4);
    // As the file dialogs of the Windows version did: a name without any extension gets
    // the document's, the proposed one ("Untitled.vps") and the typed one alike. A name
    // with another extension is taken as typed.
    auto withExtension = [&](QString name)
    {
        if (QFileInfo(name).suffix().isEmpty() && !name.endsWith(QLatin1Char('.')))
            name += extension;
        return name;
    };
    QString chosen = ToQString(path);
    if (!open && !chosen.isEmpty())
        chosen = withExtension(chosen);
    if (!g_prompt->PromptFileName(parent, open, title, filters, chosen))
        return false;
    if (!open)
    {
        const QString written = withExtension(chosen);
        // A dialog that asked about the name as typed has not asked about this one.
        if (written != chosen && QFileInfo::exists(written))
        {
            CString question;
            question.Format(LoadStringById(IDS_REPLACE_FILE).GetString(),
                            FromQString(QFileInfo(written).fileName()).GetString());
            if (AfxMessageBox(question, MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
                return false;
        }
        chosen = written;
    }
    path = FromQString(chosen);
    return true;
}
