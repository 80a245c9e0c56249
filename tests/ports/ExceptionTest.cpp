#include "CVarkoPrinterException.h"
#include "ScriptedPrompt.h"

#include <gtest/gtest.h>

namespace
{
CString messageFor(DWORD code)
{
    return CVarkoPrinterException(code).GetMessageText();
}
} // namespace

TEST(PrinterException, EveryLibraryCodeHasItsExactMessage)
{
    EXPECT_EQ(messageFor(1), "Invalid Baud Rate setting.");
    EXPECT_EQ(messageFor(2), "Invalid Data bits setting.");
    EXPECT_EQ(messageFor(3), "Invalid Parity setting.");
    EXPECT_EQ(messageFor(4), "Invalid Stop bits setting.");
    EXPECT_EQ(messageFor(5), "Invalid Flow control setting.");
    EXPECT_EQ(messageFor(6), "There is an error in this printer's configuration.");
    EXPECT_EQ(messageFor(7), "That port is unavailable.");
    EXPECT_EQ(messageFor(8), "Could not create Printer thread.");
    EXPECT_EQ(messageFor(9), "The user cancelled that operation.");
    EXPECT_EQ(messageFor(10), "Invalid Parameter.");
    EXPECT_EQ(messageFor(11), "Bi-directional communcations is not support with this printer.");
    EXPECT_EQ(messageFor(12), "The operation timed out.  Check the following: \n"
                              "1)  Make sure the printer is connected. \n"
                              "2)  Make sure the printer is turned on. \n"
                              "3)  Make sure the printer settings are configured correctly.");
}

TEST(PrinterException, CodesWithoutAMessageGetTheGenericText)
{
    EXPECT_EQ(messageFor(0), AfxNoErrorMessageText());
    EXPECT_EQ(messageFor(13), AfxNoErrorMessageText());
    EXPECT_EQ(messageFor(10054), AfxNoErrorMessageText());
}

TEST(PrinterException, SystemErrorsNeverBorrowALibraryMessage)
{
    // 5 is "access denied" from the system, not the library's flow-control complaint.
    auto denied = CVarkoPrinterException::FromOsError(5, "Permission denied");
    EXPECT_TRUE(denied.IsOsError());
    EXPECT_EQ(denied.GetErrorCode(), 5u);
    CString text = denied.GetMessageText();
    EXPECT_NE(text, "Invalid Flow control setting.");
    EXPECT_GE(text.Find("Permission denied"), 0);
    EXPECT_GE(text.Find("5"), 0);

    auto reset = CVarkoPrinterException::FromOsError(10054, "");
    EXPECT_GE(reset.GetMessageText().Find("10054"), 0);
}

TEST(PrinterException, ReportErrorShowsTheCodeMessageOrTheGivenString)
{
    ScriptedPrompt prompt;
    AfxSetAppTitle("Odomira");
    EXPECT_EQ(CVarkoPrinterException(7).ReportError(), IDOK);
    // An explicit id wins over the code.
    CVarkoPrinterException(7).ReportError(MB_OK | MB_ICONINFORMATION, 33213);
    auto records = prompt.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "That port is unavailable.");
    EXPECT_EQ(records[0].caption, "Odomira");
    EXPECT_EQ(records[0].type, MB_OK);
    EXPECT_EQ(records[1].text, "N/A");
    EXPECT_EQ(records[1].type, MB_OK | MB_ICONINFORMATION);
}

TEST(PrinterException, IsARunTimeClassBelowCException)
{
    CVarkoPrinterException e(1);
    EXPECT_TRUE(e.IsKindOf(RUNTIME_CLASS(CException)));
    EXPECT_STREQ(e.GetRuntimeClass()->m_lpszClassName, "CVarkoPrinterException");
}
