#include "AppIcons.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QSvgRenderer>

// The resources live in the program's static library, whose resources must be
// registered by hand (and outside any namespace).
static void EnsureResources()
{
    static const bool registered = []
    {
        Q_INIT_RESOURCE(app);
        return true;
    }();
    (void)registered;
}

QIcon SvgIcon(const QString& resourcePath)
{
    EnsureResources();
    QSvgRenderer renderer(resourcePath);
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
    {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon ProgramIcon()
{
    return SvgIcon(QStringLiteral(":/icons/odomira.svg"));
}

QIcon PrinterIcon()
{
    return SvgIcon(QStringLiteral(":/icons/printer.svg"));
}
