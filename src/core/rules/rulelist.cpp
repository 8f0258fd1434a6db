#include "core/rules/rulelist.h"

#include "core/platform/collation.h"

#include <algorithm>
#include <atomic>

namespace corvane {

namespace {
std::atomic<quint64> g_revisions{0};
}

RuleList::RuleList(Order order) : m_order(order) {
    touch();
}

void RuleList::touch() {
    m_revision = ++g_revisions;
}

qsizetype RuleList::insertPosition(const QString &caption) const {
    // After the last entry that does not sort after the new caption.
    auto it = std::upper_bound(
        m_entries.cbegin(), m_entries.cend(), caption,
        [](const QString &c, const RuleEntry &e) { return compareCaptions(c, e.Caption) < 0; });
    return it - m_entries.cbegin();
}

qsizetype RuleList::add(RuleEntry entry) {
    touch();
    if (!isSorted()) {
        m_entries.append(std::move(entry));
        return m_entries.size() - 1;
    }
    const qsizetype pos = insertPosition(entry.Caption);
    m_entries.insert(pos, std::move(entry));
    return pos;
}

qsizetype RuleList::placeSorted(qsizetype i) {
    if (!isSorted())
        return i;
    RuleEntry entry = m_entries.takeAt(i);
    const qsizetype pos = insertPosition(entry.Caption);
    m_entries.insert(pos, std::move(entry));
    return pos;
}

qsizetype RuleList::setCaption(qsizetype i, const QString &caption) {
    touch();
    m_entries[i].Caption = caption;
    return placeSorted(i);
}

void RuleList::setSubItems(qsizetype i, const QStringList &subItems) {
    touch();
    m_entries[i].SubItems = subItems;
}

qsizetype RuleList::replace(qsizetype i, RuleEntry entry) {
    touch();
    m_entries[i] = std::move(entry);
    return placeSorted(i);
}

void RuleList::removeAt(qsizetype i) {
    touch();
    m_entries.removeAt(i);
}

void RuleList::clear() {
    touch();
    m_entries.clear();
}

void RuleList::assign(QList<RuleEntry> entries) {
    touch();
    m_entries = std::move(entries);
    if (!isSorted() || m_entries.size() < 2)
        return;
    // Files written by this program are already in order: check that in one pass before
    // paying for a sort.
    bool ordered = true;
    for (qsizetype i = 1; i < m_entries.size() && ordered; ++i)
        ordered = compareCaptions(m_entries[i - 1].Caption, m_entries[i].Caption) <= 0;
    if (ordered)
        return;
    const QCollator &collator = captionCollator();
    std::vector<std::pair<QCollatorSortKey, qsizetype>> keys;
    keys.reserve(m_entries.size());
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        keys.emplace_back(collator.sortKey(m_entries[i].Caption), i);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
    QList<RuleEntry> sorted;
    sorted.reserve(m_entries.size());
    for (const auto &k : keys)
        sorted.append(std::move(m_entries[k.second]));
    m_entries = std::move(sorted);
}

} // namespace corvane
