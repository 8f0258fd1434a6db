#pragma once

#include "core/records/archivecopies.h"

#include <QAbstractTableModel>
#include <QList>

namespace corvane {

// The rows of the saved e-mails list: one archive copy a row, in the order they were added,
// never sorted. A row and its file name are kept together, so that removing a row can never
// leave the names out of step with the rows.
class ArchiveListModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { SubjectColumn, FromColumn, ToColumn, DateColumn, ColumnCount };

    explicit ArchiveListModel(QObject *parent = nullptr);

    void append(const QList<ArchiveCopy> &copies);
    void clear();
    void remove(int row);
    const ArchiveCopy &copy(int row) const { return m_copies.at(row); }
    // The file names of the rows, in row order.
    QStringList names() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QList<ArchiveCopy> m_copies;
};

} // namespace corvane
