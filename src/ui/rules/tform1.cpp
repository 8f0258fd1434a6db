#include "ui/rules/tform1.h"

#include "ui/rules/listentrydialog.h"
#include "ui/rules/rulelistmodel.h"
#include "ui/rules/wordpairdialog.h"
#include "ui/shell/prompts.h"
#include "ui/shell/windowplacement.h"

#include <QAction>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

const QString kSelectToEdit = u"You must have selected an item to edit it"_s;
const QString kSelectToDelete = u"You must have selected an item to delete it"_s;

QTreeView *makeView(const QString &name, QWidget *parent) {
    auto *view = new QTreeView(parent);
    view->setObjectName(name);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSortingEnabled(false);
    view->header()->setSectionsClickable(false);
    view->header()->setStretchLastSection(true);
    return view;
}

QPushButton *makeButton(const QString &name, const QString &text, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

} // namespace

QString countLabelText(ListKind kind, qsizetype n) {
    const QString text = kind == ListKind::Friendly ? u" Items in the the friendly list"_s
                                                    : u" Items in the this black list"_s;
    return QString::number(n) + text;
}

TForm1::TForm1(RuleLists &lists, Prompts &prompts, ListEntryDialog *entryDialog,
               WordPairDialog *xandyDialog, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_lists(lists),
      m_prompts(prompts), m_entryDialog(entryDialog), m_xandyDialog(xandyDialog) {
    setObjectName(u"TForm1"_s);
    setWindowTitle(u"Rules and Lists"_s);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(u"PageControl1"_s);
    PageControl1->setStyleSheet(u"QTabBar::tab { min-width: 120px; }"_s);

    // The three lists with buttons and a count label.
    struct Tab {
        ListKind kind;
        QString title;
        QString text;
        QTreeView *&view;
        QLineEdit *&filter;
        QLabel *&count;
        QPushButton *&add;
        QPushButton *&edit;
        QPushButton *&remove;
        QString viewName, filterName, countName;
        int firstButton;
    };
    Tab tabs[] = {
        {ListKind::SubjectBlack, u"Black Listed Subjects"_s,
         u"Any e-mail that comes in which subject is or contains an item listed below (other "
         u"then a friendly) will be maked spam. If the program is in automatic mode the email "
         u"will be deleted."_s,
         lvblsubj, edFilterSubj, lblCountSubj, Button1, Button2, Button3, u"lvblsubj"_s,
         u"edFilterSubj"_s, u"lblCountSubj"_s, 1},
        {ListKind::EmailBlack, u"Black Listed Emails"_s,
         u"Any email that is from an address or domain in this list (other then friendly) will "
         u"be maked as spam. In Automatic mode the emails will be deleted."_s,
         lvblemail, edFilterEmail, lblCountEmail, Button4, Button5, Button6, u"lvblemail"_s,
         u"edFilterEmail"_s, u"lblCountEmail"_s, 4},
        {ListKind::Friendly, u"Friendly Emails"_s,
         u"E-mail address listed here will always get though. This where you would store you "
         u"work, friends and family address's. You can even add a domain eg. @example.com"_s,
         lvfriendly, edFilterFriendly, lblCountFriendly, Button7, Button8, Button9, u"lvfriendly"_s,
         u"edFilterFriendly"_s, u"lblCountFriendly"_s, 7},
    };
    int sheet = 1;
    for (Tab &tab : tabs) {
        auto *page = new QWidget(PageControl1);
        page->setObjectName(u"TabSheet"_s + QString::number(sheet++));
        auto *layout = new QVBoxLayout(page);
        auto *text = new QLabel(tab.text, page);
        text->setWordWrap(true);
        layout->addWidget(text);
        layout->addWidget(makeListPane(tab.kind, tab.viewName, tab.view, tab.filter, {250, 160}));
        tab.filter->setObjectName(tab.filterName);

        auto *row = new QHBoxLayout;
        tab.add = makeButton(u"Button"_s + QString::number(tab.firstButton), u"Add"_s, page);
        tab.edit = makeButton(u"Button"_s + QString::number(tab.firstButton + 1), u"Edit"_s, page);
        tab.remove =
            makeButton(u"Button"_s + QString::number(tab.firstButton + 2), u"Delete"_s, page);
        tab.count = new QLabel(countLabelText(tab.kind, 0), page);
        tab.count->setObjectName(tab.countName);
        row->addWidget(tab.add);
        row->addWidget(tab.edit);
        row->addWidget(tab.remove);
        row->addSpacing(12);
        row->addWidget(tab.count, 1);
        layout->addLayout(row);
        const ListKind kind = tab.kind;
        connect(tab.add, &QPushButton::clicked, this, [this, kind] { AddClick(kind); });
        connect(tab.edit, &QPushButton::clicked, this, [this, kind] { EditClick(kind); });
        connect(tab.remove, &QPushButton::clicked, this, [this, kind] { DeleteClick(kind); });
        PageControl1->addTab(page, tab.title);
    }

    // Misc: the X-and-Y list and the fixed rules.
    auto *misc = new QWidget(PageControl1);
    misc->setObjectName(u"TabSheet4"_s);
    auto *miscLayout = new QVBoxLayout(misc);
    GroupBox1 = new QGroupBox(u"Subject contains X and Y"_s, misc);
    GroupBox1->setObjectName(u"GroupBox1"_s);
    auto *xyLayout = new QVBoxLayout(GroupBox1);
    auto *xyText = new QLabel(u"If subject contains x and y then mark it as spam (right click in "
                              u"box for options)"_s,
                              GroupBox1);
    xyText->setWordWrap(true);
    xyLayout->addWidget(xyText);
    xyLayout->addWidget(
        makeListPane(ListKind::XandY, u"lvblsubxy"_s, lvblsubxy, edFilterXY, {120, 120, 160}));
    edFilterXY->setObjectName(u"edFilterXY"_s);
    miscLayout->addWidget(GroupBox1, 1);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(u"PopupMenu1"_s);
    AddXY1 = PopupMenu1->addAction(u"Add"_s);
    AddXY1->setObjectName(u"AddXY1"_s);
    PopupMenu1->addSeparator();
    EditXY1 = PopupMenu1->addAction(u"Edit"_s);
    EditXY1->setObjectName(u"EditXY1"_s);
    PopupMenu1->addSeparator();
    DeleteXY1 = PopupMenu1->addAction(u"Delete"_s);
    DeleteXY1->setObjectName(u"DeleteXY1"_s);
    connect(AddXY1, &QAction::triggered, this, [this] { AddClick(ListKind::XandY); });
    connect(EditXY1, &QAction::triggered, this, [this] { EditClick(ListKind::XandY); });
    connect(DeleteXY1, &QAction::triggered, this, [this] { DeleteClick(ListKind::XandY); });
    lvblsubxy->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvblsubxy, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        PopupMenu1->popup(lvblsubxy->viewport()->mapToGlobal(at));
    });

    GroupBox2 = new QGroupBox(u"Misc E-mail Rules"_s, misc);
    GroupBox2->setObjectName(u"GroupBox2"_s);
    auto *rulesLayout = new QVBoxLayout(GroupBox2);
    auto *rulesText = new QLabel(u"This is an extra list of common spam features, tick the ones "
                                 u"you want to be in effect"_s,
                                 GroupBox2);
    rulesText->setWordWrap(true);
    rulesLayout->addWidget(rulesText);
    m_misc = new MiscRulesModel(m_lists.Misc, this);
    lvMiscRules = makeView(u"lvMiscRules"_s, GroupBox2);
    lvMiscRules->setModel(m_misc);
    lvMiscRules->setColumnWidth(0, 405);
    lvMiscRules->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rulesLayout->addWidget(lvMiscRules);
    connect(m_misc, &MiscRulesModel::tickChanged, this, &TForm1::rulesChanged);
    miscLayout->addWidget(GroupBox2, 1);
    PageControl1->addTab(misc, u"Misc"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    resize(560, 520);

    // The dialogs change the lists; this window shows what they did.
    if (m_entryDialog) {
        m_entryDialog->setSelectionSource([this](ListKind kind) { return selectedEntry(kind); });
        connect(m_entryDialog, &ListEntryDialog::listChanged, this, &TForm1::refreshList);
    }
    if (m_xandyDialog) {
        m_xandyDialog->setSelectionSource([this] { return selectedEntry(ListKind::XandY); });
        connect(m_xandyDialog, &WordPairDialog::listChanged, this, &TForm1::refreshList);
    }
    for (ListKind kind : {ListKind::SubjectBlack, ListKind::EmailBlack, ListKind::Friendly})
        updateCount(kind);
}

TForm1::~TForm1() = default;

QWidget *TForm1::makeListPane(ListKind kind, const QString &name, QTreeView *&view,
                              QLineEdit *&filter, const QList<int> &widths) {
    auto *pane = new QWidget(this);
    auto *layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    filter = new QLineEdit(pane);
    filter->setPlaceholderText(u"Type to filter the list"_s);
    filter->setClearButtonEnabled(true);
    layout->addWidget(filter);

    const int i = index(kind);
    auto *model = new RuleListModel(m_lists.list(kind), kind, this);
    auto *proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(model);
    proxy->setFilterKeyColumn(-1);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    // The proxy only filters; the rows keep the list's own order.
    proxy->setDynamicSortFilter(false);
    view = makeView(name, pane);
    view->setModel(proxy);
    for (int c = 0; c < widths.size(); ++c)
        view->setColumnWidth(c, widths.at(c));
    // A second, slow click on a selected row (or F2) edits the first column in place.
    view->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    layout->addWidget(view);

    m_models[i] = model;
    m_proxies[i] = proxy;
    m_views[i] = view;
    m_filters[i] = filter;

    connect(filter, &QLineEdit::textChanged, proxy,
            [proxy](const QString &text) { proxy->setFilterFixedString(text); });
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, kind] { updateCount(kind); });
    connect(view, &QAbstractItemView::doubleClicked, this, [this, kind] { EditClick(kind); });
    connect(model, &RuleListModel::captionEdited, this, [this, kind](int row) {
        // The filter may now hide or show the entry; keep it selected when it is shown.
        m_proxies[index(kind)]->invalidate();
        selectEntry(kind, row);
        updateCount(kind);
        Q_EMIT rulesChanged();
    });
    return pane;
}

RuleListModel *TForm1::model(ListKind kind) const {
    return m_models[index(kind)];
}

QSortFilterProxyModel *TForm1::proxy(ListKind kind) const {
    return m_proxies[index(kind)];
}

QTreeView *TForm1::view(ListKind kind) const {
    return m_views[index(kind)];
}

QLineEdit *TForm1::filter(ListKind kind) const {
    return m_filters[index(kind)];
}

void TForm1::showWindow() {
    refreshAll();
    show();
    raise();
    activateWindow();
}

void TForm1::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QWidget::showEvent(event);
}

void TForm1::refreshList(ListKind kind) {
    // Keep the selected entry selected when it is still there.
    const qsizetype selected = selectedEntry(kind);
    model(kind)->refresh();
    if (selected >= 0 && selected < m_lists.list(kind).size())
        selectEntry(kind, selected);
    updateCount(kind);
    Q_EMIT rulesChanged();
}

void TForm1::refreshAll() {
    for (ListKind kind : kAllListKinds) {
        const qsizetype selected = selectedEntry(kind);
        model(kind)->refresh();
        if (selected >= 0 && selected < m_lists.list(kind).size())
            selectEntry(kind, selected);
        updateCount(kind);
    }
    m_misc->refresh();
}

qsizetype TForm1::selectedEntry(ListKind kind) const {
    const QTreeView *v = view(kind);
    const QModelIndexList rows = v->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return -1;
    return proxy(kind)->mapToSource(rows.first()).row();
}

void TForm1::selectEntry(ListKind kind, qsizetype entry) {
    QTreeView *v = view(kind);
    const QModelIndex shown = proxy(kind)->mapFromSource(model(kind)->index(int(entry), 0));
    if (!shown.isValid()) {
        v->selectionModel()->clear();
        return;
    }
    v->selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
    v->scrollTo(shown);
}

void TForm1::updateCount(ListKind kind) {
    QLabel *label = nullptr;
    switch (kind) {
    case ListKind::SubjectBlack:
        label = lblCountSubj;
        break;
    case ListKind::EmailBlack:
        label = lblCountEmail;
        break;
    case ListKind::Friendly:
        label = lblCountFriendly;
        break;
    case ListKind::XandY:
        return;
    }
    label->setText(countLabelText(kind, m_lists.list(kind).size()));
}

void TForm1::AddClick(ListKind kind) {
    if (!m_entryDialog || !m_xandyDialog)
        return;
    switch (kind) {
    case ListKind::SubjectBlack:
        m_entryDialog->openMode(ListEntryDialog::Mode::AddSubject);
        break;
    case ListKind::EmailBlack:
        m_entryDialog->openMode(ListEntryDialog::Mode::AddEmail);
        break;
    case ListKind::Friendly:
        m_entryDialog->openMode(ListEntryDialog::Mode::AddFriendly);
        break;
    case ListKind::XandY:
        m_xandyDialog->openMode(WordPairDialog::Mode::AddXY);
        break;
    }
}

void TForm1::EditClick(ListKind kind) {
    const qsizetype selected = selectedEntry(kind);
    if (selected < 0) {
        m_prompts.error(this, kSelectToEdit);
        return;
    }
    if (!m_entryDialog || !m_xandyDialog)
        return;
    const RuleEntry &entry = m_lists.list(kind).at(selected);
    switch (kind) {
    case ListKind::SubjectBlack:
        m_entryDialog->openMode(ListEntryDialog::Mode::EditSubject, entry.Caption,
                                entry.SubItems.value(0));
        break;
    case ListKind::EmailBlack:
        m_entryDialog->openMode(ListEntryDialog::Mode::EditEmail, entry.Caption,
                                entry.SubItems.value(0));
        break;
    case ListKind::Friendly:
        m_entryDialog->openMode(ListEntryDialog::Mode::EditFriendly, entry.Caption,
                                entry.SubItems.value(0));
        break;
    case ListKind::XandY:
        m_xandyDialog->openMode(WordPairDialog::Mode::EditXY, entry.Caption,
                                entry.SubItems.value(0), entry.SubItems.value(1));
        break;
    }
}

void TForm1::DeleteClick(ListKind kind) {
    const qsizetype selected = selectedEntry(kind);
    if (selected < 0) {
        m_prompts.error(this, kSelectToDelete);
        updateCount(kind);
        return;
    }
    // The row below (or, at the end, above) takes the selection, so that the next entry can
    // be deleted straight away.
    const int shownRow = view(kind)->selectionModel()->selectedRows().first().row();
    m_lists.list(kind).removeAt(selected);
    model(kind)->refresh();
    const int rows = proxy(kind)->rowCount();
    if (rows > 0) {
        const QModelIndex next = proxy(kind)->index(qMin(shownRow, rows - 1), 0);
        view(kind)->selectionModel()->setCurrentIndex(next, QItemSelectionModel::ClearAndSelect |
                                                                QItemSelectionModel::Rows);
    }
    updateCount(kind);
    Q_EMIT rulesChanged();
}

} // namespace corvane
