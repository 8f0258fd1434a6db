#pragma once

#include "core/screening/headerrow.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QList>

#include <functional>

namespace corvane {

// The rows of the open connection as the message list shows them: five columns, the mark's
// picture before the subject, spam and friendly rows in their colours. The rows themselves
// belong to the mailbox session; sync() is called whenever the session reports a change.
class HeaderListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { SubjectColumn, FromColumn, ToColumn, DateColumn, SizeColumn, ColumnCount };
    // The mark of a row, as an int, under this role.
    static constexpr int MarkRole = Qt::UserRole + 1;

    // The colours of spam and friendly rows, read each time a row is drawn.
    struct Colours {
        QColor spam;
        QColor friendly;
    };

    explicit HeaderListModel(QObject *parent = nullptr);

    // The rows to show; the list must outlive the model or be replaced before it goes.
    void setRows(const QList<HeaderRow> *rows);
    void setColours(std::function<Colours()> colours) { m_colours = std::move(colours); }
    // Brings the view up to date with the rows: changed marks repaint in place (keeping the
    // selection), appended rows are inserted, anything else resets the list.
    void sync();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    const QList<HeaderRow> *m_rows = nullptr;
    qsizetype m_shown = 0;
    std::function<Colours()> m_colours;
};

} // namespace corvane
