#include "core/protocol/headerblock.h"

namespace corvane {

bool isContinuationLine(QByteArrayView line) {
    return !line.isEmpty() && (line[0] == ' ' || line[0] == '\t');
}

QByteArrayView headerLineName(QByteArrayView line) {
    if (isContinuationLine(line))
        return {};
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return {};
    return line.first(colon).trimmed();
}

qsizetype findHeaderField(const QList<QByteArray> &lines, QByteArrayView name, qsizetype *end) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArrayView n = headerLineName(lines[i]);
        if (n.isEmpty() || n.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (end) {
            qsizetype j = i + 1;
            while (j < lines.size() && isContinuationLine(lines[j]))
                ++j;
            *end = j;
        }
        return i;
    }
    return -1;
}

QByteArray headerBlockValue(const QList<QByteArray> &lines, QByteArrayView name) {
    qsizetype end = 0;
    const qsizetype at = findHeaderField(lines, name, &end);
    if (at < 0)
        return {};
    const QByteArray &first = lines[at];
    QByteArray value = first.mid(first.indexOf(':') + 1).trimmed();
    for (qsizetype i = at + 1; i < end; ++i) {
        const QByteArrayView piece = QByteArrayView(lines[i]).trimmed();
        if (piece.isEmpty())
            continue;
        if (!value.isEmpty())
            value += ' ';
        value += piece;
    }
    return value;
}

void setHeaderField(QList<QByteArray> &lines, QByteArrayView name,
                    const QList<QByteArray> &replacement) {
    qsizetype end = 0;
    const qsizetype at = findHeaderField(lines, name, &end);
    if (at < 0) {
        lines.append(replacement);
        return;
    }
    lines.remove(at, end - at);
    for (qsizetype k = 0; k < replacement.size(); ++k)
        lines.insert(at + k, replacement[k]);
}

QList<QByteArray> foldHeaderField(QByteArrayView name, QByteArrayView rawValue) {
    static constexpr qsizetype target = 78;
    static constexpr qsizetype hardLimit = 998;
    QList<QByteArray> out;
    if (rawValue.isEmpty())
        return out;
    QByteArray value = rawValue.toByteArray();
    for (char &c : value)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    // Segments start at fold points: a single blank between two non-blank characters.
    QList<QByteArrayView> segments;
    qsizetype start = 0;
    for (qsizetype p = 1; p + 1 < value.size(); ++p) {
        if (value[p] == ' ' && !isBlank(value[p - 1]) && !isBlank(value[p + 1])) {
            segments.append(QByteArrayView(value).sliced(start, p - start));
            start = p;
        }
    }
    segments.append(QByteArrayView(value).sliced(start));
    QByteArray line = name.toByteArray() + ": ";
    bool lineHasText = false;
    auto emitLine = [&] {
        // A segment without fold points longer than the hard limit is cut.
        while (line.size() > hardLimit) {
            out.append(line.left(hardLimit));
            line = ' ' + line.mid(hardLimit);
        }
        out.append(line);
    };
    for (QByteArrayView seg : std::as_const(segments)) {
        if (lineHasText && line.size() + seg.size() > target) {
            emitLine();
            line = seg.toByteArray(); // begins with its blank
        } else {
            line += seg;
        }
        lineHasText = true;
    }
    emitLine();
    return out;
}

} // namespace corvane
