#include "CIPAddressCtrl.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QFrame(parent)
{
    // Looks like one edit box holding four numbers.
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(0);
    auto* validator = new QIntValidator(0, 255, this);
    for (int n = 0; n < 4; ++n)
    {
        if (n > 0)
        {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setBackgroundRole(QPalette::Base);
            row->addWidget(dot);
        }
        auto* f = new QLineEdit(this);
        f->setObjectName(QStringLiteral("field%1").arg(n));
        f->setFrame(false);
        f->setAlignment(Qt::AlignCenter);
        f->setMaxLength(3);
        f->setValidator(validator);
        f->setMinimumWidth(f->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
        // Only the first field is a tab stop; the others are reached from it.
        f->setFocusPolicy(n == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        f->installEventFilter(this);
        connect(f, &QLineEdit::textEdited, this, [this, n] { OnFieldEdited(n); });
        row->addWidget(f, 1);
        m_fields[n] = f;
    }
    setFocusProxy(m_fields[0]);
    setFocusPolicy(Qt::StrongFocus);
}

void CIPAddressCtrl::SetAddress(BYTE f0, BYTE f1, BYTE f2, BYTE f3)
{
    const BYTE v[4] = {f0, f1, f2, f3};
    for (int n = 0; n < 4; ++n)
        m_fields[n]->setText(QString::number(v[n]));
}

int CIPAddressCtrl::GetAddress(BYTE& f0, BYTE& f1, BYTE& f2, BYTE& f3) const
{
    BYTE* out[4] = {&f0, &f1, &f2, &f3};
    int filled = 0;
    for (int n = 0; n < 4; ++n)
    {
        const QString t = m_fields[n]->text().trimmed();
        bool ok = false;
        int v = t.toInt(&ok);
        if (!ok || t.isEmpty())
            v = 0;
        else
            ++filled;
        // Text set by program is not checked by the validator or the edit handler.
        *out[n] = static_cast<BYTE>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    return filled;
}

void CIPAddressCtrl::ClearAddress()
{
    for (QLineEdit* f : m_fields)
        f->clear();
}

bool CIPAddressCtrl::IsBlank() const
{
    for (QLineEdit* f : m_fields)
        if (!f->text().trimmed().isEmpty())
            return false;
    return true;
}

void CIPAddressCtrl::SetFieldFocus(int n)
{
    if (n < 0 || n > 3)
        n = 0;
    m_fields[n]->setFocus(Qt::OtherFocusReason);
    m_fields[n]->selectAll();
}

void CIPAddressCtrl::OnFieldEdited(int n)
{
    QLineEdit* f = m_fields[n];
    // Three digits above 255 pass the validator as "not finished yet"; the field
    // holds a byte, so it becomes the largest one, as the platform's control does.
    if (f->text().toInt() > 255)
        f->setText(QStringLiteral("255"));
    if (n < 3 && f->text().size() == 3 && f->cursorPosition() == 3)
        SetFieldFocus(n + 1);
}

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress)
    {
        auto* key = static_cast<QKeyEvent*>(event);
        for (int n = 0; n < 4; ++n)
        {
            if (watched != m_fields[n])
                continue;
            if (key->text() == QLatin1String(".") || key->text() == QLatin1String(" "))
            {
                if (n < 3 && !m_fields[n]->text().isEmpty())
                    SetFieldFocus(n + 1);
                return true;
            }
            if (key->key() == Qt::Key_Backspace && n > 0 && m_fields[n]->text().isEmpty())
            {
                m_fields[n - 1]->setFocus(Qt::OtherFocusReason);
                m_fields[n - 1]->end(false);
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, event);
}
