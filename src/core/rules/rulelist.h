#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace corvane {

// One row of a rule list: the matched text and the further columns (a description; for the
// X-and-Y list the second word, then the description).
struct RuleEntry {
    QString Caption;
    QStringList SubItems;

    friend bool operator==(const RuleEntry &, const RuleEntry &) = default;
};

// An ordered sequence of entries. A sorted list keeps its entries in caption order (see
// compareCaptions) after every add, caption change and bulk assignment; an unsorted list keeps
// the order of insertion. Duplicates are allowed in both.
class RuleList {
public:
    enum class Order { Insertion, ByCaption };

    explicit RuleList(Order order = Order::Insertion);

    Order order() const { return m_order; }
    bool isSorted() const { return m_order == Order::ByCaption; }

    qsizetype size() const { return m_entries.size(); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    const RuleEntry &at(qsizetype i) const { return m_entries.at(i); }
    const QList<RuleEntry> &entries() const { return m_entries; }
    QList<RuleEntry>::const_iterator begin() const { return m_entries.cbegin(); }
    QList<RuleEntry>::const_iterator end() const { return m_entries.cend(); }

    // Adds an entry and returns the position it takes.
    qsizetype add(RuleEntry entry);
    qsizetype add(const QString &caption, const QStringList &subItems) {
        return add(RuleEntry{caption, subItems});
    }
    // Replaces the caption of entry i and returns the position the entry takes afterwards.
    qsizetype setCaption(qsizetype i, const QString &caption);
    void setSubItems(qsizetype i, const QStringList &subItems);
    // Replaces entry i as a whole and returns the position it takes afterwards.
    qsizetype replace(qsizetype i, RuleEntry entry);
    void removeAt(qsizetype i);
    void clear();
    // Replaces all entries (in their given order; a sorted list then sorts them).
    void assign(QList<RuleEntry> entries);

    // Changes with every modification; two lists never share a value. Caches built from a list
    // (the classifier's automata) compare it to know when to rebuild.
    quint64 revision() const { return m_revision; }

private:
    void touch();
    qsizetype insertPosition(const QString &caption) const;
    qsizetype placeSorted(qsizetype i);

    Order m_order;
    QList<RuleEntry> m_entries;
    quint64 m_revision = 0;
};

} // namespace corvane
