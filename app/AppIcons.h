#pragma once
// The program's pictures, drawn as SVG and rendered at the sizes Qt asks for.
#include <QIcon>

class QString;

// An icon from an SVG resource, rendered crisply at the usual sizes.
QIcon SvgIcon(const QString& resourcePath);
// Resource 128: the program's icon.
QIcon ProgramIcon();
// Resource 130: the printer shown on every row of the list.
QIcon PrinterIcon();
