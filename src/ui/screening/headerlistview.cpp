#include "ui/screening/headerlistview.h"

#include "ui/screening/headerlistmodel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSortFilterProxyModel>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// Columns never narrower than their heading, and never so wide that Subject has no room.
constexpr int kMaxTextColumn = 320;
constexpr int kDefaultWidths[] = {0, 140, 140, 80, 85, 50};

} // namespace

HeaderListView::HeaderListView(HeaderListModel *model, QMenu *contextMenu, QWidget *parent)
    : QTreeView(parent), m_proxy(new QSortFilterProxyModel(this)) {
    setObjectName(u"messageList"_s);
    m_proxy->setObjectName(u"lvHeadersSort"_s);
    m_proxy->setSourceModel(model);
    m_proxy->setSortRole(HeaderListModel::SortRole);
    setModel(m_proxy);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setTextElideMode(Qt::ElideRight);
    setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *columns = header();
    columns->setStretchLastSection(false);
    columns->setSectionsMovable(false);
    columns->setMinimumSectionSize(40);
    // Sizing a column to its contents measures the rows on screen and a hundred more, not a
    // whole mailbox of them.
    columns->setResizeContentsPrecision(100);
    columns->setSectionResizeMode(HeaderListModel::SubjectColumn, QHeaderView::Stretch);
    // Message order until a heading is clicked; a third click goes back to it.
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    columns->setSortIndicatorClearable(true);
    setSortingEnabled(true);
    for (int c = HeaderListModel::FromColumn; c < HeaderListModel::ColumnCount; ++c) {
        columns->setSectionResizeMode(c, QHeaderView::Interactive);
        // A heading is never cut, whatever the font.
        columns->resizeSection(c, qMax(kDefaultWidths[c], columns->sectionSizeHint(c)));
    }
    connect(columns, &QHeaderView::sectionResized, this, [this](int column, int, int) {
        if (!m_sizing && column != HeaderListModel::SubjectColumn)
            m_handSized.insert(column);
    });
    connect(this, &QWidget::customContextMenuRequested, this,
            [this, contextMenu](const QPoint &pos) {
                contextMenu->popup(viewport()->mapToGlobal(pos));
            });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &HeaderListView::selectionTouched);
    connect(this, &QAbstractItemView::clicked, this, &HeaderListView::selectionTouched);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            Q_EMIT headersRequested();
    });
}

qsizetype HeaderListView::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : m_proxy->mapToSource(rows.first()).row();
}

void HeaderListView::selectRow(qsizetype position) {
    const QModelIndex index =
        m_proxy->mapFromSource(m_proxy->sourceModel()->index(int(position), 0));
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    selectionModel()->select(index,
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

int HeaderListView::viewRow(qsizetype position) const {
    return m_proxy->mapFromSource(m_proxy->sourceModel()->index(int(position), 0)).row();
}

void HeaderListView::setListColour(const QColor &colour) {
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colour);
    setPalette(colours);
}

void HeaderListView::sizeColumnsToContents() {
    m_sizing = true;
    QHeaderView *columns = header();
    for (int c = HeaderListModel::FromColumn; c < HeaderListModel::ColumnCount; ++c) {
        if (m_handSized.contains(c))
            continue;
        // The rows on screen and the heading decide; the widest text column is capped.
        int width = qMax(sizeHintForColumn(c), columns->sectionSizeHint(c));
        if (c == HeaderListModel::FromColumn || c == HeaderListModel::ToColumn)
            width = qMin(width, kMaxTextColumn);
        columns->resizeSection(c, qMax(width, columns->minimumSectionSize()));
    }
    m_sizing = false;
}

QList<int> HeaderListView::columnWidths() const {
    QList<int> widths;
    for (int c = HeaderListModel::FromColumn; c < HeaderListModel::ColumnCount; ++c)
        widths << (m_handSized.contains(c) ? header()->sectionSize(c) : 0);
    return widths;
}

void HeaderListView::restoreColumnWidths(const QList<int> &widths) {
    m_sizing = true;
    int c = HeaderListModel::FromColumn;
    for (const int width : widths) {
        if (c >= HeaderListModel::ColumnCount)
            break;
        if (width > 0) {
            header()->resizeSection(c, qMax(width, header()->minimumSectionSize()));
            m_handSized.insert(c);
        }
        ++c;
    }
    m_sizing = false;
}

void HeaderListView::keyPressEvent(QKeyEvent *event) {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
        case Qt::Key_Space:
            if (selectedRow() >= 0) {
                Q_EMIT toggleMarkRequested();
                event->accept();
                return;
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (selectedRow() >= 0) {
                Q_EMIT headersRequested();
                event->accept();
                return;
            }
            break;
        default:
            break;
        }
    }
    QTreeView::keyPressEvent(event);
}

} // namespace corvane
