// The printer list against simulated printers: what every kind of printer shows, in
// both units, and every command on the selected printers, checked in the simulator's
// own record of what each printer received.
#include "CSerialNumberDlg.h"
#include "CVarkoPrinters.h"
#include "Resource.h"
#include "SimFleetTest.h"

#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

namespace
{
class ListViewSim : public SimFleetTest
{
};

// Opens the context menu the way the event arrives from the window system, and hands
// the open menu to `inspect`; the menu is then closed with the action it returns chosen
// (null: closed without a choice).
void ContextMenu(COdomiraView* view, QContextMenuEvent::Reason reason, QPoint at,
                 const std::function<QAction*(QMenu*)>& inspect)
{
    bool seen = false;
    QTimer::singleShot(0,
                       [&]
                       {
                           auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                           if (!menu)
                               return;
                           seen = true;
                           QAction* choice = inspect(menu);
                           if (choice)
                           {
                               menu->setActiveAction(choice);
                               QTest::keyClick(menu, Qt::Key_Return);
                           }
                           else
                               menu->close();
                       });
    QContextMenuEvent event(reason, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &event);
    EXPECT_TRUE(seen) << "no menu opened";
}

std::vector<std::string> Items(const QMenu* menu)
{
    std::vector<std::string> items;
    for (QAction* a : menu->actions())
        items.push_back(
            a->isSeparator() ? "-" : a->text().toStdString() + (a->isEnabled() ? "" : " (off)"));
    return items;
}
} // namespace

TEST_F(ListViewSim, EveryKindOfPrinterShowsItsCellsInReverseOrderInBothUnits)
{
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Messages().empty());
    const std::string usbModel = "Varko RX400;CMD:RLX;CLS:PRINTER;";
    EXPECT_EQ(Rows(), (std::vector<std::string>{
                          "Yard |  | " + m_address + " | N/A | N/A | N/A",
                          "Line |  | LPT1 | N/A | N/A | N/A",
                          "Desk | " + usbModel + " | USB | USB-7 | 345 | 12",
                          "Dock | RX400 | COM3 | RX4-1 | 2000 | 100",
                      }));
    for (int r = 0; r < 4; ++r)
        EXPECT_FALSE(
            View()->GetListModel()->index(r, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(Commands("Dock"), (std::vector<std::string>{"\nURS\n", "\nURLi\n"}));

    ExpectOptionsChoosingUnits(1); // millimetres
    TriggerAction("ID_TOOLS_OPTIONS");
    EXPECT_EQ(Heading(4), "Total Usage (mm.)");
    const SimPrinterState dock = m_sim->State("Dock");
    const SimPrinterState desk = m_sim->State("Desk");
    EXPECT_EQ(Rows()[3], "Dock | RX400 | COM3 | RX4-1 | " + std::to_string(dock.totalMm) + " | " +
                             std::to_string(dock.headMm));
    EXPECT_EQ(Rows()[2], "Desk | " + usbModel + " | USB | USB-7 | " + std::to_string(desk.totalMm) +
                             " | " + std::to_string(desk.headMm));
    EXPECT_EQ(Commands("Dock").back(), "\nURLm\n");
}

TEST_F(ListViewSim, APrinterThatCannotBeReachedGivesOneBoxPerFillAndTheOthersFill)
{
    m_sim->Power("Desk", false);
    ASSERT_TRUE(Open());
    ASSERT_EQ(Messages().size(), 1u);
    const int desk = RowOf("Desk");
    EXPECT_EQ(Cell(desk, 3), "Error!");
    EXPECT_EQ(Cell(desk, 4), "Error!");
    EXPECT_EQ(Cell(desk, 5), "Error!");
    EXPECT_EQ(Cell(RowOf("Dock"), 3), "RX4-1");

    ClearMessages();
    TriggerAction("ID_VIEW_REFRESH");
    EXPECT_EQ(Messages().size(), 1u) << "again once for the refresh";
    m_sim->Power("Desk", true);
    ClearMessages();
    TriggerAction("ID_VIEW_REFRESH");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Cell(RowOf("Desk"), 3), "USB-7");
}

TEST_F(ListViewSim, OneWayPrintersHaveNoHeadHistoryToView)
{
    ASSERT_TRUE(Open());
    for (const char* name : {"Line", "Yard"})
    {
        Select({name});
        EXPECT_FALSE(IsEnabled("ID_PRINTER_VIEW_HEAD_HISTORY")) << name;
        EXPECT_TRUE(IsEnabled("ID_PRINTER_MODIFY")) << name;
    }
    Select({"Dock"});
    TriggerAction("ID_PRINTER_VIEW_HEAD_HISTORY");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "Head 2 of Dock: 100 in\r\n");
    EXPECT_EQ(m_prompt.Records()[0].type, UINT(MB_OK | MB_ICONINFORMATION));
    // Two rows: one-printer commands are off, the others on.
    Select({"Dock", "Desk"});
    EXPECT_FALSE(IsEnabled("ID_PRINTER_VIEW_HEAD_HISTORY"));
    EXPECT_FALSE(IsEnabled("ID_PRINTER_SET_SERIAL_NUMBER"));
    EXPECT_TRUE(IsEnabled("ID_PRINTER_RESET_HEAD_ODOMETER"));
    View()->clearSelection();
    for (const char* name :
         {"ID_PRINTER_DELETE", "ID_PRINTER_MODIFY", "ID_PRINT_ODOMETERS", "ID_PRINT_HEAD_HISTORY",
          "ID_PRINT_TEST_PAGE_RLX", "ID_PRINTER_RESET_HEAD_ODOMETER"})
        EXPECT_FALSE(IsEnabled(name)) << name;
    EXPECT_TRUE(IsEnabled("ID_EDIT_SELECT_ALL"));
    EXPECT_TRUE(IsEnabled("ID_VIEW_REFRESH"));
}

TEST_F(ListViewSim, ThePrintCommandsSendTheirExactBytesAndRefreshThoseRows)
{
    ASSERT_TRUE(Open());
    Select({"Dock", "Line"});
    m_sim->Mark("print");
    TriggerAction("ID_PRINT_TEST_PAGE_RLX");
    TriggerAction("ID_PRINT_ODOMETERS");
    TriggerAction("ID_PRINT_HEAD_HISTORY");
    EXPECT_TRUE(Messages().empty());
    // Each print is followed by the row's two questions again (the parallel printer
    // is one-way and is not asked).
    EXPECT_EQ(Commands("Dock"),
              (std::vector<std::string>{"\nURS\n", "\nURLi\n", "\nU\n", "\nURS\n", "\nURLi\n",
                                        "\nURLip\n", "\nURS\n", "\nURLi\n", "\nURHip\n", "\nURS\n",
                                        "\nURLi\n"}));
    EXPECT_EQ(Commands("Line"), (std::vector<std::string>{"\nU\n", "\nURLip\n", "\nURHip\n"}));
    EXPECT_TRUE(Commands("Desk") == (std::vector<std::string>{"\nURS\n", "\nURLi\n"}))
        << "an unselected printer is left alone";
}

TEST_F(ListViewSim, ResetAsksForEachPrinterAndGoesOnAfterANo)
{
    ASSERT_TRUE(Open());
    TriggerAction("ID_EDIT_SELECT_ALL");
    Select({"Dock", "Desk", "Line"});
    // Top down: Line, Desk, Dock. No for Desk.
    m_prompt.Answer(IDYES);
    m_prompt.Answer(IDNO);
    m_prompt.Answer(IDYES);
    TriggerAction("ID_PRINTER_RESET_HEAD_ODOMETER");
    EXPECT_EQ(Messages(),
              (std::vector<std::string>(3, "Are you sure you want to Reset the Head Odometer?")));
    EXPECT_EQ(m_sim->State("Dock").Counter("head_resets"), 1u);
    EXPECT_EQ(m_sim->State("Desk").Counter("head_resets"), 0u);
    EXPECT_EQ(m_sim->State("Line").Counter("head_resets"), 1u);
    EXPECT_EQ(Cell(RowOf("Dock"), 5), "0");
    EXPECT_EQ(Cell(RowOf("Desk"), 5), "12");
}

TEST_F(ListViewSim, DeleteRemovesEverySelectedPrinterWithoutAsking)
{
    ASSERT_TRUE(Open());
    Select({"Yard", "Desk"});
    TriggerAction("ID_PRINTER_DELETE");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Rows().size(), 2u);
    EXPECT_EQ(Cell(0, 0), "Line");
    EXPECT_EQ(Cell(1, 0), "Dock");
    EXPECT_EQ(Doc()->GetPrinters()->GetPrinterCount(), 2);
    EXPECT_TRUE(Doc()->GetPrinters()->IsModified());
    EXPECT_EQ(View()->GetSelectedCount(), 0);
}

TEST_F(ListViewSim, SetSerialNumberSendsTheNewNumberAndTheRowAndRefreshShowIt)
{
    ASSERT_TRUE(Open());
    Select({"Dock"});
    QString shown;
    m_dialogs.Expect(
        [&](IModalDialog& dlg)
        {
            auto* edit = dynamic_cast<QWidget&>(dlg).findChild<QLineEdit*>("IDC_SERIAL_NUMBER");
            shown = edit->text();
            edit->setText(QStringLiteral("NEW \"7\""));
            return IDOK;
        });
    TriggerAction("ID_PRINTER_SET_SERIAL_NUMBER");
    EXPECT_EQ(shown, "RX4-1");
    EXPECT_EQ(m_sim->State("Dock").serial, "NEW \"7\"");
    EXPECT_EQ(Cell(RowOf("Dock"), 3), "NEW \"7\"");
    m_sim->Set("Dock", "serial", "FROM-PANEL");
    TriggerAction("ID_VIEW_REFRESH");
    EXPECT_EQ(Cell(RowOf("Dock"), 3), "FROM-PANEL");

    // Cancel sends nothing.
    Select({"Dock"});
    const std::size_t before = Commands("Dock").size();
    m_dialogs.Expect([](IModalDialog&) { return IDCANCEL; });
    TriggerAction("ID_PRINTER_SET_SERIAL_NUMBER");
    EXPECT_EQ(Commands("Dock").size(), before + 1) << "only the question for the dialog";
}

TEST_F(ListViewSim, SetSerialNumberOfAnUnreachablePrinterShowsNoDialog)
{
    ASSERT_TRUE(Open());
    Select({"Desk"});
    m_sim->Power("Desk", false);
    ClearMessages();
    TriggerAction("ID_PRINTER_SET_SERIAL_NUMBER");
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_TRUE(m_dialogs.Records().empty());
}

TEST_F(ListViewSim, TheRowMenuByPointerHasModifyInBoldAndRunsItsCommands)
{
    ASSERT_TRUE(Open());
    const QRect row = View()->visualRect(View()->GetListModel()->index(RowOf("Dock"), 0));
    Select({"Dock"});
    std::vector<std::string> items;
    std::string bold;
    ContextMenu(View(), QContextMenuEvent::Mouse, row.center(),
                [&](QMenu* menu)
                {
                    EXPECT_EQ(menu->objectName(), "IDR_CONTEXT_ON_ITEM");
                    items = Items(menu);
                    bold = menu->defaultAction() ? menu->defaultAction()->objectName().toStdString()
                                                 : "";
                    for (QAction* a : menu->actions())
                        if (a->objectName() == "ID_PRINTER_VIEW_HEAD_HISTORY")
                            return a;
                    return static_cast<QAction*>(nullptr);
                });
    EXPECT_EQ(items, (std::vector<std::string>{"&Add Printer...", "&Modify Printer...",
                                               "&Delete Printer(s)", "-", "&Set Serial Number", "-",
                                               "&View Head History", "Reset Head Odometer",
                                               "&Print", "-", "Odometer &History..."}));
    EXPECT_EQ(bold, "ID_PRINTER_MODIFY");
    ASSERT_EQ(Messages().size(), 1u) << "the head history came up";

    // On a one-way printer the same menu has View Head History off.
    Select({"Line"});
    ContextMenu(View(), QContextMenuEvent::Mouse,
                View()->visualRect(View()->GetListModel()->index(RowOf("Line"), 0)).center(),
                [&](QMenu* menu)
                {
                    items = Items(menu);
                    return static_cast<QAction*>(nullptr);
                });
    EXPECT_EQ(items[6], "&View Head History (off)");
}

TEST_F(ListViewSim, TheBackgroundMenuAndTheMenuKey)
{
    ASSERT_TRUE(Open());
    View()->clearSelection();
    const QPoint below(10, View()->viewport()->height() - 5);
    std::vector<std::string> items;
    ContextMenu(View(), QContextMenuEvent::Mouse, below,
                [&](QMenu* menu)
                {
                    EXPECT_EQ(menu->objectName(), "IDR_CONTEXT_BACKGROUND");
                    items = Items(menu);
                    return menu->actions().front(); // Select All
                });
    EXPECT_EQ(items, (std::vector<std::string>{"Select All", "-", "Add Printer...", "-",
                                               "Auto-Detect Printers"}));
    EXPECT_EQ(View()->GetSelectedCount(), 4);

    // The menu key: beside the current row; the row menu for selected rows.
    const QRect current = View()->visualRect(View()->currentIndex());
    ASSERT_TRUE(current.isValid());
    QPoint shownAt;
    ContextMenu(View(), QContextMenuEvent::Keyboard, QPoint(-1, -1),
                [&](QMenu* menu)
                {
                    EXPECT_EQ(menu->objectName(), "IDR_CONTEXT_ON_ITEM");
                    shownAt = menu->pos();
                    return static_cast<QAction*>(nullptr);
                });
    EXPECT_LE((shownAt - View()->viewport()->mapToGlobal(current.bottomLeft())).manhattanLength(),
              2);
    View()->clearSelection();
    ContextMenu(View(), QContextMenuEvent::Keyboard, QPoint(-1, -1),
                [&](QMenu* menu)
                {
                    EXPECT_EQ(menu->objectName(), "IDR_CONTEXT_BACKGROUND");
                    return static_cast<QAction*>(nullptr);
                });
}

TEST_F(ListViewSim, DoubleClickModifiesTheRowAndCancelStillRebuilds)
{
    ASSERT_TRUE(Open());
    UINT opened = 0;
    m_dialogs.Expect(
        [&](IModalDialog& dlg)
        {
            opened = dlg.GetTemplateId();
            return IDCANCEL;
        });
    const QRect row = View()->visualRect(View()->GetListModel()->index(RowOf("Line"), 0));
    m_sim->Mark("modify");
    QTest::mouseDClick(View()->viewport(), Qt::LeftButton, {}, row.center());
    WaitForFill();
    EXPECT_EQ(opened, 3000u) << "the printer configuration dialog";
    // The rebuild after the dialog asked every printer again.
    EXPECT_EQ(Commands("Dock").size(), 4u);

    // Nothing selected, empty space: nothing happens.
    View()->clearSelection();
    QTest::mouseDClick(View()->viewport(), Qt::LeftButton, {},
                       QPoint(10, View()->viewport()->height() - 5));
    EXPECT_EQ(m_dialogs.Records().size(), 1u);
}
