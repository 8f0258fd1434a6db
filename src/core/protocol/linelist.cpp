#include "core/protocol/linelist.h"

#include "core/errors.h"

#include <limits>

using namespace Qt::StringLiterals;

namespace corvane {

LineList::LineList(std::initializer_list<QByteArray> lines) {
    for (const QByteArray &line : lines)
        append(QByteArrayView(line));
}

LineList::LineList(const QList<QByteArray> &lines) {
    append(lines);
}

QByteArrayView LineList::at(qsizetype i) const {
    Q_ASSERT(i >= 0 && i < size());
    const qsizetype start = i == 0 ? 0 : qsizetype(m_ends[i - 1]);
    return QByteArrayView(m_data).sliced(start, qsizetype(m_ends[i]) - start);
}

void LineList::append(QByteArrayView line) {
    if (m_data.size() + line.size() > qsizetype(std::numeric_limits<quint32>::max()))
        throw DataError(u"The text is larger than 4 GB."_s);
    m_data.append(line);
    m_ends.append(quint32(m_data.size()));
}

void LineList::append(const QList<QByteArray> &lines) {
    for (const QByteArray &line : lines)
        append(QByteArrayView(line));
}

void LineList::clear() {
    m_data.clear();
    m_ends.clear();
}

void LineList::squeeze() {
    m_data.squeeze();
    m_ends.squeeze();
}

QList<QByteArray> LineList::toList() const {
    QList<QByteArray> out;
    out.reserve(size());
    for (QByteArrayView line : *this)
        out.append(line.toByteArray());
    return out;
}

} // namespace corvane
