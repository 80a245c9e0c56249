#pragma once
// What the dialog tests share: one QApplication for the test binary, a private device
// folder holding exactly the port names a binary asks for (so the port list does not
// depend on the machine's own serial ports), and finding controls by name.
#include "ModalDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <ostream>

// Registers a test environment that creates the application and, before anything
// builds the port list, a device folder in which the given names open (links to
// /dev/null) and every other COM1-COM96 and LPT1-LPT8 name is a dangling link, so the
// machine's /dev/ttyS* ports stay out of the list. Call from a static initializer.
bool RegisterDialogTestEnvironment(std::initializer_list<const char*> openablePorts);

template <class T> T* Control(const QWidget* dialog, const char* name)
{
    T* w = dialog->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << "no control named " << name;
    return w;
}

// The window behind a modal dialog a scripted runner hands the test.
inline QWidget* W(IModalDialog& d)
{
    return dynamic_cast<QWidget*>(&d);
}

// The user picks an entry by its text, as a person would.
inline void Choose(QWidget* dlg, const char* list, const char* text)
{
    auto* c = Control<QComboBox>(dlg, list);
    int i = c->findText(QString::fromLatin1(text));
    ASSERT_GE(i, 0) << text;
    c->setCurrentIndex(i);
}

// The user replaces the text of an edit control.
inline void Type(QWidget* dlg, const char* edit, const QString& text)
{
    auto* e = Control<QLineEdit>(dlg, edit);
    e->selectAll();
    e->insert(text);
}

// The entries of a list, in order.
inline QStringList Texts(const QComboBox* list)
{
    QStringList t;
    for (int i = 0; i < list->count(); ++i)
        t << list->itemText(i);
    return t;
}

// Serves the event loop until pred is true or timeoutMs have passed.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
// The same as a window waits: blocked in the event loop between events (asking pred
// every few milliseconds), so the waiting costs its thread no CPU of its own. For tests
// that measure what the window's thread does meanwhile.
bool ServeEventsUntil(const std::function<bool()>& pred, int timeoutMs);

// The longest the event loop went without serving a timer of `intervalMs`, from
// construction to the last call of Longest.
class EventLoopGaps
{
public:
    explicit EventLoopGaps(int intervalMs);
    qint64 Longest() const;

private:
    QElapsedTimer m_clock;
    QTimer m_beat;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// What pressing Tab count times from start visits: each focused control's objectName
// (a control made of parts reports the named control the part belongs to).
QStringList TabOrder(QWidget* dialog, QWidget* start, int count);

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '{' << l.join(QStringLiteral(", ")).toStdString() << '}';
}
