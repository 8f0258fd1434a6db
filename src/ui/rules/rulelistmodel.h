#pragma once

#include "core/rules/rulelists.h"

#include <QAbstractListModel>
#include <QAbstractTableModel>

namespace corvane {

// One rule list as a table: the caption, then one column per sub-item. The caption can be
// edited in place; a sorted list then moves the entry to its new position. The list itself is
// the store: the model holds no copy, so it stays fast with lists of any length.
class RuleListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    RuleListModel(RuleList &list, ListKind kind, QObject *parent = nullptr);

    ListKind kind() const { return m_kind; }
    RuleList &list() const { return m_list; }
    // Shows the list as it now stands (after a change made elsewhere).
    void refresh();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

Q_SIGNALS:
    // An entry's caption was edited in place; it now stands at row.
    void captionEdited(int row);

private:
    RuleList &m_list;
    ListKind m_kind;
    QStringList m_columns;
};

// The thirteen fixed rules, one row each in rule-number order, a check box showing each tick.
// The texts are fixed: screening and the settings go by rule number.
class MiscRulesModel final : public QAbstractListModel {
    Q_OBJECT
public:
    explicit MiscRulesModel(MiscRules &rules, QObject *parent = nullptr);

    // Shows the ticks as they now stand (the settings set them after the window is made).
    void refresh();

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

Q_SIGNALS:
    void tickChanged(int number, bool on);

private:
    MiscRules &m_rules;
};

} // namespace corvane
