#pragma once
// The file dialogs of Open and Save As behind one seam, so tests can play the user. The
// default implementation shows Qt's file dialog.
#include "CString.h"

#include <QString>

class QWidget;

class IFileNamePrompt
{
public:
    virtual ~IFileNamePrompt();
    // Shows the dialog; false when the user cancelled. `path` comes in as the proposed
    // name and goes out as the chosen one.
    virtual bool PromptFileName(QWidget* parent, bool open, const QString& title,
                                const QStringList& filters, QString& path) = 0;
};

// Installs the implementation used from now on (null restores Qt's dialog). Returns the
// previous one; the caller keeps ownership.
IFileNamePrompt* SetFileNamePrompt(IFileNamePrompt* prompt);

// Shows the installed file dialog; false when cancelled.
bool AskFileName(QWidget* parent, bool open, const QString& title, const QStringList& filters,
                 QString& path);

// Asks for a printer settings file with the document's filter and an all-files entry.
// A name typed without an extension gets ".vps". False when cancelled.
bool PromptForFileName(QWidget* parent, bool open, CString& path);

// The file extension of the document type, with its dot.
constexpr const char* DOCUMENT_EXTENSION = ".vps";
