#pragma once
// What the dialog tests share: one QApplication for the test binary, a private device
// folder holding exactly the port names a binary asks for (so the port list does not
// depend on the machine's own serial ports), and finding controls by name.
#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>

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
