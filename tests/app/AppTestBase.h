#pragma once
// What the window tests share: the real application and main window, built over the
// test's private settings root, with every way the program talks to the user played by
// a script: message boxes (ScriptedPrompt), dialogs (CScriptedModalRunner) and the file
// dialogs (ScriptedFileNamePrompt). Commands are raised by their action's objectName,
// and a missing or disabled action fails the test, as a user could not have chosen it.
#include "CMainFrame.h"
#include "COdomiraApp.h"
#include "COdomiraDoc.h"
#include "COdomiraView.h"
#include "CPrinterSettings.h"
#include "CSettingsApplication.h"
#include "FileNamePrompt.h"
#include "ScriptedModalRunner.h"
#include "ScriptedPrompt.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QStringList>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

class ScriptedFileNamePrompt : public IFileNamePrompt
{
public:
    ScriptedFileNamePrompt() { m_previous = SetFileNamePrompt(this); }
    ~ScriptedFileNamePrompt() override { SetFileNamePrompt(m_previous); }

    // The next dialog returns this name (as typed); Cancel() queues a cancel. Without a
    // queued answer the dialog is cancelled.
    void Answer(const std::string& path) { m_answers.push_back(path); }
    void Cancel() { m_answers.push_back(std::string(1, '\0')); }

    struct Call
    {
        bool open;
        QString title;
        QStringList filters;
        QString proposed;
    };
    const std::vector<Call>& Calls() const { return m_calls; }

    bool PromptFileName(QWidget*, bool open, const QString& title, const QStringList& filters,
                        QString& path) override;

private:
    std::deque<std::string> m_answers;
    std::vector<Call> m_calls;
    IFileNamePrompt* m_previous = nullptr;
};

class AppTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the application and runs its start-up; the result of InitInstance. Waits
    // until the list has asked every printer unless told not to.
    bool Start(const QStringList& arguments = {}, bool waitForFill = true);
    // Closes the main window as the user would (the save question may be answered
    // through the prompt script) and runs the application's exit step. True when the
    // window closed.
    bool Exit();

    CMainFrame* Frame() const { return m_app ? m_app->GetMainFrame() : nullptr; }
    COdomiraView* View() const { return Frame() ? Frame()->GetActiveView() : nullptr; }
    COdomiraDoc* Doc() const { return m_app ? m_app->GetDocument() : nullptr; }

    QAction* Action(const char* name) const;
    bool IsEnabled(const char* name) const;
    // Fails the test when the action is missing or disabled; otherwise triggers it and
    // waits until the list has asked the printers the command made it ask.
    void TriggerAction(const char* name);
    // Serves the event loop until the list asks no printer any more.
    void WaitForFill(int timeoutMs = 60000);
    // Scripts the next Options dialog: picks the display units at this position of its
    // list and answers OK.
    void ExpectOptionsChoosingUnits(int index);

    // The list as shown: one entry per row, top down, cells joined by " | ".
    std::vector<std::string> Rows() const;
    std::string Cell(int row, int column) const;
    QString Heading(int column) const;
    void SelectRows(std::initializer_list<int> rows);

    // Message box texts shown so far, in order.
    std::vector<std::string> Messages() const;
    void ClearMessages() { m_prompt.Clear(); }

    // A file in the test's scratch folder.
    std::string TempPath(const std::string& name) const;

    ScriptedPrompt m_prompt;
    CScriptedModalRunner m_dialogs;
    ScriptedFileNamePrompt m_files;
    std::unique_ptr<COdomiraApp> m_app;
    bool m_exited = false;
    std::string m_scratch;
};

// A printer settings file holding the described printers, written by the library
// itself (the way the program would save it).
void WriteSettingsFile(const std::string& path, const std::vector<CPrinterSettings>& printers);
CPrinterSettings SerialPrinter(const std::string& name, const std::string& com);
CPrinterSettings ParallelPrinter(const std::string& name, const std::string& lpt);
CPrinterSettings NetworkPrinter(const std::string& name, const std::string& address,
                                DWORD tcpPort = 9100);
CPrinterSettings UsbPrinter(const std::string& name, const std::string& path);

// Settings-store helpers for seeding and checking the program's settings.
void WriteUserBinary(const char* value, const void* data, DWORD size);
std::vector<BYTE> ReadUserBinary(const char* value);
void WriteUnits(HKEY root, const std::string& text);
bool ReadUnits(HKEY root, std::string& text);
