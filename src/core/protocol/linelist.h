#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <initializer_list>

namespace corvane {

// An ordered list of text lines (bytes, without line breaks) held compactly: the bytes of all
// lines in one buffer and the end of each line as a 32-bit offset. A message of millions of
// short lines takes about its own size plus four bytes a line, where a list of QByteArray
// would take some 50 bytes a line more. Lines are appended and read, never changed in place.
class LineList {
public:
    LineList() = default;
    LineList(std::initializer_list<QByteArray> lines);
    LineList(const QList<QByteArray> &lines); // NOLINT: converts implicitly, as a list would

    qsizetype size() const { return m_ends.size(); }
    qsizetype count() const { return size(); }
    bool isEmpty() const { return m_ends.isEmpty(); }
    // The line at i (0 <= i < size()); valid until the list is changed.
    QByteArrayView at(qsizetype i) const;
    QByteArrayView operator[](qsizetype i) const { return at(i); }
    QByteArrayView first() const { return at(0); }
    QByteArrayView last() const { return at(size() - 1); }
    // The bytes of every line together, without line breaks.
    qsizetype byteCount() const { return m_data.size(); }

    // Appends a line. A list holds at most 4 GiB of text: more throws DataError.
    void append(QByteArrayView line);
    void append(const QList<QByteArray> &lines);
    void clear();
    // Gives back the room kept for further lines.
    void squeeze();

    QList<QByteArray> toList() const;

    class const_iterator {
    public:
        using value_type = QByteArrayView;
        using difference_type = qsizetype;
        const_iterator(const LineList *list, qsizetype i) : m_list(list), m_i(i) {}
        QByteArrayView operator*() const { return m_list->at(m_i); }
        const_iterator &operator++() {
            ++m_i;
            return *this;
        }
        friend bool operator==(const const_iterator &, const const_iterator &) = default;

    private:
        const LineList *m_list;
        qsizetype m_i;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    friend bool operator==(const LineList &a, const LineList &b) {
        return a.m_ends == b.m_ends && a.m_data == b.m_data;
    }

private:
    QByteArray m_data;
    QList<quint32> m_ends;
};

} // namespace corvane
