#pragma once

#include <QSet>
#include <QTreeView>

class QMenu;
class QSortFilterProxyModel;

namespace corvane {

class HeaderListModel;

// The main window's message list `messageList`: one row per message of the open connection,
// one row selected at a time, sortable by any column, the context menu on a right click, the
// list's keys (Space, Enter) and its colour. The view shows the rows through a sort proxy;
// selectedRow() and selectRow() speak of the model's rows, which are message numbers - 1.
class HeaderListView final : public QTreeView {
    Q_OBJECT

public:
    HeaderListView(HeaderListModel *model, QMenu *contextMenu, QWidget *parent = nullptr);

    // The model position (message number - 1) of the selected row, -1 when none is selected.
    qsizetype selectedRow() const;
    // Selects the row at a model position and makes it current and visible.
    void selectRow(qsizetype position);
    // The view row at which the row at a model position shows, -1 when it is not listed.
    int viewRow(qsizetype position) const;
    // The background of the list.
    void setListColour(const QColor &colour);
    // Widens or narrows the columns From, To, Date and Size to their contents, except those
    // the user has sized by hand (or whose widths were restored); Subject takes the rest.
    void sizeColumnsToContents();
    // The widths of From, To, Date and Size as the user set them (0: sized to the contents),
    // and giving them back.
    QList<int> columnWidths() const;
    void restoreColumnWidths(const QList<int> &widths);

Q_SIGNALS:
    // The selected row changed or was clicked again.
    void selectionTouched();
    // Space: mark the selected row for deletion, or take its mark back.
    void toggleMarkRequested();
    // Enter or a double-click on a row: show its headers.
    void headersRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QSortFilterProxyModel *m_proxy;
    QSet<int> m_handSized; // columns whose width the user chose
    bool m_sizing = false;
};

} // namespace corvane
