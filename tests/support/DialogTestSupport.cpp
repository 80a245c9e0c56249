#include "DialogTestSupport.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QVariant>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace
{
class DialogEnvironment : public ::testing::Environment
{
public:
    explicit DialogEnvironment(std::set<std::string> ports) : m_ports(std::move(ports)) {}

    void SetUp() override
    {
        // A folder of our own inside the one the test runner gave us: test processes
        // of one binary may run side by side.
        const char* base = std::getenv("VARKO_DEVICE_DIR");
        fs::path root = base && *base ? fs::path(base) : fs::temp_directory_path();
        fs::create_directories(root);
        std::string tmpl = (root / "ports-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        m_dir = tmpl;
        for (int n = 1; n <= 96; ++n)
            Link("COM" + std::to_string(n));
        for (int n = 1; n <= 8; ++n)
            Link("LPT" + std::to_string(n));
        for (const std::string& p : m_ports)
            Link(p);
        ::setenv("VARKO_DEVICE_DIR", m_dir.c_str(), 1);

        // Never a real display, also when the binary is run by hand.
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "dialog_tests";
        static char* argv[] = {name, nullptr};
        m_app = new QApplication(argc, argv);
    }

    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

private:
    void Link(const std::string& name)
    {
        fs::path entry = m_dir / name;
        std::error_code ec;
        fs::remove(entry, ec);
        fs::create_symlink(m_ports.count(name) ? "/dev/null" : "/nonexistent/device", entry);
    }

    std::set<std::string> m_ports;
    fs::path m_dir;
    QApplication* m_app = nullptr;
};
} // namespace

bool RegisterDialogTestEnvironment(std::initializer_list<const char*> openablePorts)
{
    std::set<std::string> ports;
    for (const char* p : openablePorts)
        ports.insert(p);
    ::testing::AddGlobalTestEnvironment(new DialogEnvironment(std::move(ports)));
    return true;
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pred())
    {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

bool ServeEventsUntil(const std::function<bool()>& pred, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop,
                     [&]
                     {
                         if (pred() || deadline.hasExpired())
                             loop.quit();
                     });
    check.start(5);
    if (!pred())
        loop.exec();
    return pred();
}

EventLoopGaps::EventLoopGaps(int intervalMs)
{
    m_clock.start();
    QObject::connect(&m_beat, &QTimer::timeout,
                     [this]
                     {
                         m_longest = std::max(m_longest, m_clock.elapsed() - m_last);
                         m_last = m_clock.elapsed();
                     });
    m_beat.start(intervalMs);
}

qint64 EventLoopGaps::Longest() const
{
    return std::max(m_longest, m_clock.elapsed() - m_last);
}

QStringList TabOrder(QWidget* dialog, QWidget* start, int count)
{
    QStringList order;
    start->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < count; ++i)
    {
        QWidget* f = dialog->focusWidget();
        if (!f)
            break;
        QWidget* named = f;
        while (named && named != dialog && !named->property("controlId").isValid())
            named = named->parentWidget();
        order << (named ? named->objectName() : QString());
        QTest::keyClick(f, Qt::Key_Tab);
    }
    return order;
}
