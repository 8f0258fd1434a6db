#include "ui/records/archivelistmodel.h"

#include "core/platform/safetext.h"
#include "core/screening/mailboxsession.h"
#include "ui/shell/icons.h"

using namespace Qt::StringLiterals;

namespace corvane {

ArchiveListModel::ArchiveListModel(QObject *parent) : QAbstractTableModel(parent) {}

void ArchiveListModel::append(const QList<ArchiveCopy> &copies) {
    if (copies.isEmpty())
        return;
    const int first = int(m_copies.size());
    beginInsertRows({}, first, first + int(copies.size()) - 1);
    m_copies += copies;
    endInsertRows();
}

void ArchiveListModel::clear() {
    beginResetModel();
    m_copies.clear();
    endResetModel();
}

void ArchiveListModel::remove(int row) {
    if (row < 0 || row >= m_copies.size())
        return;
    beginRemoveRows({}, row, row);
    m_copies.removeAt(row);
    endRemoveRows();
}

QStringList ArchiveListModel::names() const {
    QStringList names;
    names.reserve(m_copies.size());
    for (const ArchiveCopy &c : m_copies)
        names << c.name;
    return names;
}

int ArchiveListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_copies.size());
}

int ArchiveListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ArchiveListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_copies.size())
        return {};
    const ArchiveCopy &c = m_copies.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        // Text from mail: a line break or a direction override would garble the row.
        switch (index.column()) {
        case SubjectColumn:
            return safeText(c.subject);
        case FromColumn:
            return safeText(c.from);
        case ToColumn:
            return safeText(c.to);
        case DateColumn:
            return MailboxSession::dateText(c.date);
        default:
            return {};
        }
    case Qt::DecorationRole:
        if (index.column() == SubjectColumn) {
            static const QIcon saved = markIcon(RowMark::Plain);
            return saved;
        }
        return {};
    default:
        return {};
    }
}

QVariant ArchiveListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case SubjectColumn:
        return u"Subject"_s;
    case FromColumn:
        return u"From"_s;
    case ToColumn:
        return u"To"_s;
    case DateColumn:
        return u"Date"_s;
    default:
        return {};
    }
}

Qt::ItemFlags ArchiveListModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

} // namespace corvane
