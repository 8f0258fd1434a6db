#include "ui/screening/headerlistmodel.h"

#include "ui/shell/icons.h"

#include <QFont>
#include <QIcon>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

const QIcon &iconFor(RowMark mark) {
    static const QIcon plain = markIcon(RowMark::Plain);
    static const QIcon friendly = markIcon(RowMark::Friendly);
    static const QIcon spam = markIcon(RowMark::Spam);
    static const QIcon remove = markIcon(RowMark::Delete);
    static const QIcon bounce = markIcon(RowMark::Bounce);
    switch (mark) {
    case RowMark::Plain:
        return plain;
    case RowMark::Friendly:
        return friendly;
    case RowMark::Spam:
        return spam;
    case RowMark::Delete:
        return remove;
    case RowMark::Bounce:
        break;
    }
    return bounce;
}

QString cellText(const HeaderRow &row, int column) {
    switch (column) {
    case HeaderListModel::SubjectColumn:
        return row.Subject;
    case HeaderListModel::FromColumn:
        return row.From;
    case HeaderListModel::ToColumn:
        return row.To;
    case HeaderListModel::DateColumn:
        return row.Date;
    case HeaderListModel::SizeColumn:
        return row.Size;
    case HeaderListModel::ScoreColumn:
        return row.LearnedScore >= 0 ? QString::number(row.LearnedScore) : QString();
    default:
        return {};
    }
}

} // namespace

HeaderListModel::HeaderListModel(QObject *parent) : QAbstractTableModel(parent) {}

void HeaderListModel::setRows(const QList<HeaderRow> *rows,
                              const QList<MessageIdentity> *identities) {
    beginResetModel();
    m_rows = rows;
    m_identities = identities;
    m_shown = rows ? rows->size() : 0;
    endResetModel();
}

void HeaderListModel::sync() {
    const qsizetype now = m_rows ? m_rows->size() : 0;
    if (now == m_shown) {
        if (now > 0)
            Q_EMIT dataChanged(index(0, 0), index(int(now - 1), ColumnCount - 1));
    } else if (now > m_shown) {
        // Rows listed before may have changed too while the view waited for the new ones.
        const qsizetype before = m_shown;
        beginInsertRows({}, int(m_shown), int(now - 1));
        m_shown = now;
        endInsertRows();
        if (before > 0)
            Q_EMIT dataChanged(index(0, 0), index(int(before - 1), ColumnCount - 1));
    } else {
        beginResetModel();
        m_shown = now;
        endResetModel();
    }
}

bool HeaderListModel::onlyAppended() const {
    return m_rows && m_rows->size() > m_shown;
}

int HeaderListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_shown);
}

int HeaderListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HeaderListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || !m_rows || index.row() >= m_shown || index.row() >= m_rows->size())
        return {};
    const HeaderRow &row = m_rows->at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(row, index.column());
    case Qt::ToolTipRole: {
        // The cell's whole text, which the column may cut, the mark in words and why the row
        // has it (which list or rule, or the learner).
        QStringList lines;
        if (const QString text = cellText(row, index.column()); !text.isEmpty())
            lines << text;
        if (row.Mark == RowMark::Delete)
            lines << u"(marked for deletion)"_s;
        else if (row.Mark == RowMark::Bounce)
            lines << u"(marked for bouncing)"_s;
        if (!row.Reason.isEmpty())
            lines << u"Why: %1"_s.arg(row.Reason);
        return lines.join(u'\n');
    }
    case Qt::DecorationRole:
        if (index.column() == SubjectColumn)
            return iconFor(row.Mark);
        return {};
    case Qt::ForegroundRole:
        if (m_colours && (row.Mark == RowMark::Spam || row.Mark == RowMark::Friendly)) {
            const Colours colours = m_colours();
            return row.Mark == RowMark::Spam ? colours.spam : colours.friendly;
        }
        return {};
    case Qt::FontRole:
        if (row.Mark == RowMark::Delete || row.Mark == RowMark::Bounce) {
            QFont font;
            font.setStrikeOut(true);
            font.setItalic(row.Mark == RowMark::Bounce);
            return font;
        }
        return {};
    case SortRole:
        switch (index.column()) {
        case DateColumn:
            return m_identities && index.row() < m_identities->size()
                       ? QVariant(m_identities->at(index.row()).Sent)
                       : QVariant(row.Date);
        case SizeColumn:
            return row.Size.toLongLong();
        case ScoreColumn:
            // Rows the learner did not score (-1) come before the lowest score.
            return row.LearnedScore;
        case SubjectColumn:
            return row.Subject.toCaseFolded();
        case FromColumn:
            return row.From.toCaseFolded();
        case ToColumn:
            return row.To.toCaseFolded();
        default:
            return {};
        }
    case Qt::TextAlignmentRole:
        if (index.column() == SizeColumn || index.column() == ScoreColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case MarkRole:
        return static_cast<int>(row.Mark);
    default:
        return {};
    }
}

QVariant HeaderListModel::headerData(int section, Qt::Orientation orientation, int role) const {
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
    case SizeColumn:
        return u"Size ( in Bytes)"_s;
    case ScoreColumn:
        return u"Score"_s;
    default:
        return {};
    }
}

Qt::ItemFlags HeaderListModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

} // namespace corvane
