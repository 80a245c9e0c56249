// The status bar's CAP, NUM and SCRL panes on a real X server (Xvfb): they follow the
// keyboard's lock lights, which the keys are toggled by from outside (xdotool).
#include "AppTestBase.h"
#include "Resource.h"

#include <QTest>

#include <cstdlib>

namespace
{
bool Press(const char* key)
{
    const std::string command = std::string("xdotool key ") + key;
    return std::system(command.c_str()) == 0;
}
} // namespace

TEST_F(AppTest, TheLockIndicatorsFollowTheKeyboard)
{
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X server";
    ASSERT_TRUE(Start());
    EXPECT_EQ(Frame()->IndicatorText(ID_INDICATOR_CAPS), "");
    ASSERT_TRUE(Press("Caps_Lock"));
    QTRY_COMPARE_WITH_TIMEOUT(Frame()->IndicatorText(ID_INDICATOR_CAPS), QString("CAP"), 3000);
    ASSERT_TRUE(Press("Num_Lock"));
    QTRY_COMPARE_WITH_TIMEOUT(Frame()->IndicatorText(ID_INDICATOR_NUM), QString("NUM"), 3000);
    EXPECT_EQ(Frame()->IndicatorText(ID_INDICATOR_SCRL), "");
    ASSERT_TRUE(Press("Caps_Lock"));
    ASSERT_TRUE(Press("Num_Lock"));
    QTRY_COMPARE_WITH_TIMEOUT(Frame()->IndicatorText(ID_INDICATOR_CAPS), QString(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(Frame()->IndicatorText(ID_INDICATOR_NUM), QString(), 3000);
}
