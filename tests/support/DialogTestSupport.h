#pragma once
// What the dialog tests share: one QApplication for the test binary, a private device
// folder holding exactly the port names a binary asks for (so the port list does not
// depend on the machine's own serial ports), and finding controls by name.
#include <QApplication>
#include <QStringList>
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

// Serves the event loop until pred is true or timeoutMs have passed.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);

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
