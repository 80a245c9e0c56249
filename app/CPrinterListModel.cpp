#include "CPrinterListModel.h"

CPrinterListModel::CPrinterListModel(QObject* parent) : QAbstractTableModel(parent) {}

void CPrinterListModel::SetHeading(int column, const QString& text)
{
    if (column < 0 || column >= COLUMN_COUNT)
        return;
    m_headings[static_cast<std::size_t>(column)] = text;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void CPrinterListModel::SetIcon(const QIcon& icon)
{
    m_icon = icon;
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
}

void CPrinterListModel::SetRows(std::vector<Row> rows)
{
    // One reset for the whole list: a fill of a thousand rows must not cost a thousand
    // notifications.
    beginResetModel();
    m_rows = std::move(rows);
    m_rowOf.clear();
    m_rowOf.reserve(static_cast<qsizetype>(m_rows.size()));
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        m_rowOf.insert(m_rows[i].printer, static_cast<int>(i));
    endResetModel();
}

void CPrinterListModel::SetCell(int row, int column, const QString& text)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= COLUMN_COUNT)
        return;
    QString& cell = m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
    if (cell == text)
        return;
    cell = text;
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
}

int CPrinterListModel::RowOf(const CVarkoPrinterData* printer) const
{
    return m_rowOf.value(printer, -1);
}

CVarkoPrinterData* CPrinterListModel::PrinterAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    return m_rows[static_cast<std::size_t>(row)].printer;
}

QString CPrinterListModel::CellText(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= COLUMN_COUNT)
        return QString();
    return m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
}

int CPrinterListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CPrinterListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QVariant CPrinterListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= COLUMN_COUNT)
        return QVariant();
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role)
    {
    case Qt::DisplayRole:
        return row.cells[static_cast<std::size_t>(index.column())];
    case Qt::DecorationRole:
        return index.column() == 0 ? QVariant(m_icon) : QVariant();
    case PrinterRole:
        return index.column() == 0 ? QVariant::fromValue(reinterpret_cast<quintptr>(row.printer))
                                   : QVariant();
    default:
        return QVariant();
    }
}

QVariant CPrinterListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= COLUMN_COUNT)
        return QVariant();
    return m_headings[static_cast<std::size_t>(section)];
}

Qt::ItemFlags CPrinterListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
