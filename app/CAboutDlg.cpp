#include "CAboutDlg.h"

#include "AppIcons.h"
#include "CModuleVersion.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg() : CDialog(IDD, nullptr)
{
    setWindowTitle(QStringLiteral("About Odomira"));
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("IDR_MAINFRAME"));
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    auto* caption = new QLabel(QStringLiteral("Odomira Version:"), this);
    auto* version = new QLabel(this);
    SetControlId(version, IDC_VERSION, "IDC_VERSION");
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* notice = new QLabel(ToQString(LoadStringById(IDS_MAKER_NOTICE)), this);
    notice->setObjectName(QStringLiteral("IDC_MAKER_NOTICE"));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(ok, IDOK, "IDOK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(DialogUnitsX(7));
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(caption, 0, 1);
    grid->addWidget(version, 0, 2);
    grid->addWidget(notice, 1, 1, 1, 2);
    grid->addWidget(ok, 0, 3, Qt::AlignTop);
    grid->setColumnStretch(2, 1);
    grid->setColumnMinimumWidth(2, DialogUnitsX(44));
    grid->setSizeConstraint(QLayout::SetFixedSize);
    SetTabOrderList({ok});
}

CAboutDlg::~CAboutDlg() = default;

BOOL CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    CModuleVersion version;
    const QString path = QCoreApplication::applicationFilePath();
    QString text;
    if (!path.isEmpty() && version.LoadVersionInfo(FromQString(path)))
        text = ToQString(version.ShortVersionText());
    if (auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_VERSION)))
        label->setText(text);
    return TRUE;
}
