#include "ui/screening/headerlistview.h"

#include "ui/screening/headerlistmodel.h"

#include <QHeaderView>
#include <QMenu>

using namespace Qt::StringLiterals;

namespace corvane {

HeaderListView::HeaderListView(HeaderListModel *model, QMenu *contextMenu, QWidget *parent)
    : QTreeView(parent) {
    setObjectName(u"lvHeaders"_s);
    setModel(model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setTextElideMode(Qt::ElideRight);
    setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *columns = header();
    columns->setStretchLastSection(false);
    columns->setSectionsMovable(false);
    columns->setSectionResizeMode(HeaderListModel::SubjectColumn, QHeaderView::Stretch);
    const int widths[] = {0, 140, 140, 80, 85};
    for (int c = HeaderListModel::FromColumn; c < HeaderListModel::ColumnCount; ++c) {
        columns->setSectionResizeMode(c, QHeaderView::Interactive);
        columns->resizeSection(c, widths[c]);
    }
    columns->setMinimumSectionSize(40);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this, contextMenu](const QPoint &pos) {
                contextMenu->popup(viewport()->mapToGlobal(pos));
            });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &HeaderListView::selectionTouched);
    connect(this, &QAbstractItemView::clicked, this, &HeaderListView::selectionTouched);
}

qsizetype HeaderListView::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void HeaderListView::setListColour(const QColor &colour) {
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colour);
    setPalette(colours);
}

} // namespace corvane
