// The search as the windowed program shows it: the Qt "Please Wait" window hosting the
// real search logic and discovery thread, driven by its controls' names.
#include "CSearchNetworkDlg.h"
#include "CSearchNetworkWidget.h"
#include "DiscoveryFakePrinters.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

using namespace std::chrono;
using Fake = DiscoveryFakePrinters;

namespace
{
class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "discovery_widget_tests";
        static char* argv[] = {name, nullptr};
        m_app = new QApplication(argc, argv);
    }
    void TearDown() override { delete m_app; }

private:
    QApplication* m_app = nullptr;
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Acts on the search window once it is shown and cond holds; gives up after 5 s.
void WhenShown(std::function<bool(QDialog&)> act, steady_clock::time_point until = {})
{
    if (until == steady_clock::time_point{})
        until = steady_clock::now() + seconds(5);
    QTimer::singleShot(20,
                       [act, until]
                       {
                           auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                           if (w && act(*w))
                               return;
                           if (steady_clock::now() < until)
                               WhenShown(act, until);
                       });
}

class DiscoveryWidget : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(std::string(std::getenv("VARKO_DISCOVERY_BROADCAST")).rfind("127.", 0), 0u);
        Fake::UsePrivateDiscoveryPort();
        InstallQtSearchDialogHost();
    }
    void TearDown() override { SetSearchDialogHostFactory(nullptr); }
};

TEST_F(DiscoveryWidget, ShowsItsTextsAndCancelEndsTheSearchWithNothing)
{
    Fake printers({{"127.0.0.71", Fake::Record("127.0.0.71", "Alpha")}});
    ASSERT_TRUE(printers.Ok());
    CSearchNetworkDlg dlg(nullptr);
    ASSERT_TRUE(dlg.StartDetectThread());
    QString title, text;
    WhenShown(
        [&](QDialog& w)
        {
            if (dlg.GetResponseCount() < 1)
                return false;
            title = w.windowTitle();
            if (auto* label = w.findChild<QLabel*>("IDC_SEARCH_TEXT"))
                text = label->text();
            auto* cancel = w.findChild<QPushButton*>("IDCANCEL");
            EXPECT_NE(cancel, nullptr);
            if (cancel)
                cancel->click();
            return true;
        });
    auto start = steady_clock::now();
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_LT(duration<double>(steady_clock::now() - start).count(), 5.0);
    EXPECT_EQ(title, "Please Wait");
    EXPECT_EQ(text, "Searching Local Network and USB...");
}

TEST_F(DiscoveryWidget, EscapeCancelsAsTheButtonDoes)
{
    CSearchNetworkDlg dlg(nullptr);
    ASSERT_TRUE(dlg.StartDetectThread());
    WhenShown(
        [](QDialog& w)
        {
            w.reject(); // what Escape and the close button do
            return true;
        });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(DiscoveryWidget, AFailedSendClosesTheWindowByItselfWithOk)
{
    std::string saved = std::getenv("VARKO_DISCOVERY_BROADCAST");
    setenv("VARKO_DISCOVERY_BROADCAST", "not-an-address", 1);
    CSearchNetworkDlg dlg(nullptr);
    ASSERT_TRUE(dlg.StartDetectThread());
    auto start = steady_clock::now();
    int result = dlg.DoModal();
    setenv("VARKO_DISCOVERY_BROADCAST", saved.c_str(), 1);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.GetResponseCount(), 0);
    EXPECT_LT(duration<double>(steady_clock::now() - start).count(), 3.0);
}
} // namespace
