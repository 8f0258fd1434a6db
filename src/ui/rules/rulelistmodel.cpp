#include "ui/rules/rulelistmodel.h"

using namespace Qt::StringLiterals;

namespace corvane {

RuleListModel::RuleListModel(RuleList &list, ListKind kind, QObject *parent)
    : QAbstractTableModel(parent), m_list(list), m_kind(kind), m_columns(listColumns(kind)) {}

void RuleListModel::refresh() {
    beginResetModel();
    endResetModel();
}

int RuleListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_list.size());
}

int RuleListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant RuleListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_list.size())
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole)
        return {};
    const RuleEntry &entry = m_list.at(index.row());
    // An entry read from a file written elsewhere may have fewer sub-items than columns.
    return index.column() == 0 ? entry.Caption : entry.SubItems.value(index.column() - 1);
}

bool RuleListModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.column() != 0 ||
        index.row() >= m_list.size())
        return false;
    const QString caption = value.toString();
    if (caption == m_list.at(index.row()).Caption)
        return true;
    if (!m_list.isSorted()) {
        m_list.setCaption(index.row(), caption);
        Q_EMIT dataChanged(index, index);
        Q_EMIT captionEdited(index.row());
        return true;
    }
    // The entry may move: rows between its old and new place shift by one, and every index the
    // views keep (selection, current row) follows its entry.
    Q_EMIT layoutAboutToBeChanged();
    const qsizetype from = index.row();
    const qsizetype to = m_list.setCaption(from, caption);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &old : before) {
        qsizetype row = old.row();
        if (row == from)
            row = to;
        else if (from < to && row > from && row <= to)
            --row;
        else if (to < from && row >= to && row < from)
            ++row;
        after.append(this->index(int(row), old.column()));
    }
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged();
    Q_EMIT captionEdited(int(to));
    return true;
}

QVariant RuleListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_columns.value(section);
    return {};
}

Qt::ItemFlags RuleListModel::flags(const QModelIndex &index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0)
        f |= Qt::ItemIsEditable;
    return f;
}

MiscRulesModel::MiscRulesModel(MiscRules &rules, QObject *parent)
    : QAbstractListModel(parent), m_rules(rules) {}

void MiscRulesModel::refresh() {
    Q_EMIT dataChanged(index(0), index(MiscRules::Count - 1));
}

int MiscRulesModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : MiscRules::Count;
}

QVariant MiscRulesModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= MiscRules::Count)
        return {};
    const int number = index.row() + 1;
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return MiscRules::text(number);
    if (role == Qt::CheckStateRole)
        return m_rules.ticked(number) ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool MiscRulesModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= MiscRules::Count)
        return false;
    const int number = index.row() + 1;
    const bool on = value.value<Qt::CheckState>() == Qt::Checked;
    if (m_rules.ticked(number) != on) {
        m_rules.setTicked(number, on);
        Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
        Q_EMIT tickChanged(number, on);
    }
    return true;
}

QVariant MiscRulesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section == 0)
        return u"Rule Description"_s;
    return {};
}

Qt::ItemFlags MiscRulesModel::flags(const QModelIndex &index) const {
    Qt::ItemFlags f = QAbstractListModel::flags(index);
    if (index.isValid())
        f |= Qt::ItemIsUserCheckable;
    return f;
}

} // namespace corvane
