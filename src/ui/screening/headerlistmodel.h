#pragma once

#include "core/screening/headerrow.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QList>

#include <functional>

namespace corvane {

// The rows of the open connection as the message list shows them: six columns (the last, the
// learner's score, is empty for a row it did not score), the mark's
// picture before the subject, spam and friendly rows in their colours, rows marked for
// deletion or bouncing struck through (a sign that selection and colours leave alone). The
// rows themselves belong to the mailbox session; sync() is called whenever the session reports
// a change. Row r of this model is message number r + 1; a sort proxy in front of it orders
// the view by SortRole.
class HeaderListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        SubjectColumn,
        FromColumn,
        ToColumn,
        DateColumn,
        SizeColumn,
        ScoreColumn,
        ColumnCount
    };
    // The mark of a row, as an int, under this role.
    static constexpr int MarkRole = Qt::UserRole + 1;
    // What the list sorts by: the size as a number, the date as a date, texts ignoring case.
    static constexpr int SortRole = Qt::UserRole + 2;

    // The colours of spam and friendly rows, read each time a row is drawn.
    struct Colours {
        QColor spam;
        QColor friendly;
    };

    explicit HeaderListModel(QObject *parent = nullptr);

    // The rows to show; the list must outlive the model or be replaced before it goes.
    // The identities (one per row, for sorting by date) likewise.
    void setRows(const QList<HeaderRow> *rows, const QList<MessageIdentity> *identities = nullptr);
    void setColours(std::function<Colours()> colours) { m_colours = std::move(colours); }
    // Brings the view up to date with the rows: changed marks repaint in place (keeping the
    // selection), appended rows are inserted, anything else resets the list.
    void sync();
    // Whether the rows have only grown since the last sync (what a scan does).
    bool onlyAppended() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    const QList<HeaderRow> *m_rows = nullptr;
    const QList<MessageIdentity> *m_identities = nullptr;
    qsizetype m_shown = 0;
    std::function<Colours()> m_colours;
};

} // namespace corvane
