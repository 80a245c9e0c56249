#include "AppTestBase.h"

#include "CFillController.h"
#include "DialogTestSupport.h"

#include "CVarkoPrinters.h"
#include "QtText.h"
#include "StoreValues.h"

#include "CPrinterListModel.h"
#include <QAction>
#include <QComboBox>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace
{
class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "odomira-tests";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

const bool s_registered = (::testing::AddGlobalTestEnvironment(new QtEnvironment), true);

} // namespace

bool ScriptedFileNamePrompt::PromptFileName(QWidget*, bool open, const QString& title,
                                            const QStringList& filters, QString& path)
{
    m_calls.push_back({open, title, filters, path});
    if (m_answers.empty())
        return false;
    const std::string answer = m_answers.front();
    m_answers.pop_front();
    if (answer == std::string(1, '\0'))
        return false;
    path = QString::fromStdString(answer);
    return true;
}

void AppTest::SetUp()
{
    (void)s_registered;
    const char* root = std::getenv("VARKO_SETTINGS_ROOT");
    ASSERT_TRUE(root && *root) << "tests run over a private settings root";
    m_scratch = std::string(root) + "/files";
    std::filesystem::create_directories(m_scratch);
    // A private instance-lock folder, so a test never meets another test's lock.
    const std::string run = std::string(root) + "/run";
    std::filesystem::create_directories(run);
    std::filesystem::permissions(run, std::filesystem::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
}

void AppTest::TearDown()
{
    if (m_app && !m_exited)
    {
        if (Doc() && Doc()->GetPrinters())
            Doc()->GetPrinters()->SetModified(FALSE);
        if (Frame())
            Frame()->close();
        m_app->ExitInstance();
    }
    m_app.reset();
    ReleaseApplicationSettings();
}

bool AppTest::Start(const QStringList& arguments, bool waitForFill)
{
    m_app = std::make_unique<COdomiraApp>();
    m_exited = false;
    const bool started = m_app->InitInstance(arguments);
    if (waitForFill)
        WaitForFill();
    return started;
}

void AppTest::ExpectOptionsChoosingUnits(int index)
{
    m_dialogs.Expect(
        [index](IModalDialog& dlg)
        {
            dynamic_cast<QWidget&>(dlg)
                .findChild<QComboBox*>("IDC_DISPLAY_UNITS")
                ->setCurrentIndex(index);
            return IDOK;
        });
}

void AppTest::WaitForFill(int timeoutMs)
{
    if (!View())
        return;
    // Blocked between events, as the window itself waits: a loop of processEvents
    // calls would cost this thread a whole core.
    ServeEventsUntil([this] { return !View() || !View()->IsFilling(); }, timeoutMs);
    EXPECT_FALSE(View() && View()->IsFilling()) << "the list was still asking printers";
    // The history is written on a thread of its own; what the fill read is in the
    // store, and a problem it met has been told, before the test looks.
    if (Doc())
    {
        EXPECT_TRUE(Doc()->Fill().History().WaitIdle(std::chrono::milliseconds(timeoutMs)));
        QCoreApplication::sendPostedEvents();
    }
}

bool AppTest::Exit()
{
    const bool closed = Frame() ? Frame()->close() : true;
    if (closed)
    {
        m_app->ExitInstance();
        m_exited = true;
    }
    return closed;
}

QAction* AppTest::Action(const char* name) const
{
    return Frame() ? Frame()->findChild<QAction*>(QString::fromLatin1(name)) : nullptr;
}

bool AppTest::IsEnabled(const char* name) const
{
    QAction* action = Action(name);
    if (!action)
        return false;
    Frame()->UpdateCommandUI();
    return action->isEnabled();
}

void AppTest::TriggerAction(const char* name)
{
    QAction* action = Action(name);
    ASSERT_NE(action, nullptr) << "no action " << name;
    Frame()->UpdateCommandUI();
    ASSERT_TRUE(action->isEnabled()) << name << " is disabled";
    action->trigger();
    WaitForFill();
}

std::vector<std::string> AppTest::Rows() const
{
    std::vector<std::string> rows;
    const CPrinterListModel* model = View()->GetListModel();
    for (int r = 0; r < model->rowCount(); ++r)
    {
        std::string line;
        for (int c = 0; c < model->columnCount(); ++c)
            line += (c ? " | " : "") + model->CellText(r, c).toStdString();
        rows.push_back(line);
    }
    return rows;
}

std::string AppTest::Cell(int row, int column) const
{
    const CPrinterListModel* model = View()->GetListModel();
    if (row < 0 || row >= model->rowCount())
        return "<no row " + std::to_string(row) + ">";
    return model->CellText(row, column).toStdString();
}

QString AppTest::Heading(int column) const
{
    return View()->GetListModel()->headerData(column, Qt::Horizontal).toString();
}

void AppTest::SelectRows(std::initializer_list<int> rows)
{
    View()->clearSelection();
    for (int row : rows)
        View()->selectionModel()->select(View()->GetListModel()->index(row, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

std::vector<std::string> AppTest::Messages() const
{
    std::vector<std::string> texts;
    for (const CString& t : m_prompt.Texts())
        texts.push_back(t.str());
    return texts;
}

std::string AppTest::TempPath(const std::string& name) const
{
    return m_scratch + "/" + name;
}

void WriteSettingsFile(const std::string& path, const std::vector<CPrinterSettings>& printers)
{
    CVarkoPrinters collection;
    for (const CPrinterSettings& s : printers)
        if (UINT clash = collection.AddPrinter(nullptr, s))
            throw std::runtime_error("fixture printer refused: " + std::to_string(clash));
    collection.SaveToFile(CString(path));
}

namespace
{
CPrinterSettings PrinterOn(const std::string& name, const char* portClass,
                           const std::string& portName)
{
    CPrinterSettings s;
    s.name = CString(name);
    s.portClass = portClass;
    s.portName = CString(portName);
    return s;
}
} // namespace

CPrinterSettings SerialPrinter(const std::string& name, const std::string& com)
{
    return PrinterOn(name, "CSerialPort", com);
}

CPrinterSettings ParallelPrinter(const std::string& name, const std::string& lpt)
{
    return PrinterOn(name, "CParallelPort", lpt);
}

CPrinterSettings NetworkPrinter(const std::string& name, const std::string& address, DWORD tcpPort)
{
    CPrinterSettings s = PrinterOn(name, "CNetworkPort", address);
    s.tcpPort = tcpPort;
    return s;
}

CPrinterSettings UsbPrinter(const std::string& name, const std::string& path)
{
    return PrinterOn(name, "CUSBPort", path);
}

void WriteUserBinary(const char* value, const void* data, DWORD size)
{
    WriteStoreValue(HKEY_CURRENT_USER, kUserSettingsKey, value, REG_BINARY, data, size);
}

std::vector<BYTE> ReadUserBinary(const char* value)
{
    return ReadStoreValue(HKEY_CURRENT_USER, kUserSettingsKey, value);
}

namespace
{
const char* UnitsKey(HKEY root)
{
    return root == HKEY_LOCAL_MACHINE ? kMachineSettingsKey : kUserSettingsKey;
}
} // namespace

void WriteUnits(HKEY root, const std::string& text)
{
    WriteStoreValue(root, UnitsKey(root), "Display Units", REG_SZ, text.data(),
                    static_cast<DWORD>(text.size()));
}

bool ReadUnits(HKEY root, std::string& text)
{
    const std::vector<BYTE> bytes = ReadStoreValue(root, UnitsKey(root), "Display Units");
    if (bytes.empty())
        return false;
    text.assign(reinterpret_cast<const char*>(bytes.data()),
                strnlen(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return true;
}
