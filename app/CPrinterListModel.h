#pragma once
// The rows of the printer list: per row the printer's record pointer (which identifies
// the row; the model never calls the record) and the six cell texts, in the order they
// are shown, top down. One icon stands on every row.
//
// Threading: user-interface thread only.
#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QString>

#include <array>
#include <vector>

class CVarkoPrinterData;

class CPrinterListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int COLUMN_COUNT = 6;
    // The role under which column 0 gives the row's record pointer (as quintptr).
    static constexpr int PrinterRole = Qt::UserRole + 1;

    struct Row
    {
        CVarkoPrinterData* printer = nullptr;
        std::array<QString, COLUMN_COUNT> cells;
    };

    explicit CPrinterListModel(QObject* parent = nullptr);

    void SetHeading(int column, const QString& text);
    void SetIcon(const QIcon& icon);
    void SetRows(std::vector<Row> rows);
    void Clear() { SetRows({}); }
    void SetCell(int row, int column, const QString& text);

    // -1 when no row holds the printer.
    int RowOf(const CVarkoPrinterData* printer) const;
    CVarkoPrinterData* PrinterAt(int row) const;
    QString CellText(int row, int column) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<Row> m_rows;
    QHash<const CVarkoPrinterData*, int> m_rowOf;
    std::array<QString, COLUMN_COUNT> m_headings;
    QIcon m_icon;
};
