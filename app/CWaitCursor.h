#pragma once
// The wait cursor for as long as the object lives, also when the work ends by an
// exception. Nested uses stack, as Qt's override cursor does.
#include <QApplication>

class CWaitCursor
{
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
