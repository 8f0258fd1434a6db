#pragma once

#include <QTreeView>

class QMenu;

namespace corvane {

class HeaderListModel;

// The main window's message list `lvHeaders`: one row per message of the open connection,
// one row selected at a time, the context menu on a right click, and the list's colour.
class HeaderListView final : public QTreeView {
    Q_OBJECT

public:
    HeaderListView(HeaderListModel *model, QMenu *contextMenu, QWidget *parent = nullptr);

    // The position of the selected row, -1 when none is selected.
    qsizetype selectedRow() const;
    // The background of the list.
    void setListColour(const QColor &colour);

Q_SIGNALS:
    // The selected row changed or was clicked again.
    void selectionTouched();
};

} // namespace corvane
