#include "ui/rules/ruleswindow.h"

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

RulesWindow::RulesWindow(RuleLists &lists, Prompts &prompts, ListEntryDialog *entryDialog,
                         WordPairDialog *xandyDialog, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_lists(lists),
      m_prompts(prompts), m_entryDialog(entryDialog), m_xandyDialog(xandyDialog) {
    setObjectName(u"RulesWindow"_s);
    setWindowTitle(u"Rules and Lists"_s);

    listTabs = new QTabWidget(this);
    listTabs->setObjectName(u"listTabs"_s);
    listTabs->setStyleSheet(u"QTabBar::tab { min-width: 120px; }"_s);

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
        // The stem of the objectNames: "subject" gives subjectList, addSubjectButton, ….
        QString stem;
    };
    Tab tabs[] = {
        {ListKind::SubjectBlack, u"Black Listed Subjects"_s,
         u"Any e-mail that comes in which subject is or contains an item listed below (other "
         u"then a friendly) will be maked spam. If the program is in automatic mode the email "
         u"will be deleted."_s,
         subjectList, subjectFilter, subjectCount, addSubjectButton, editSubjectButton,
         deleteSubjectButton, u"subject"_s},
        {ListKind::EmailBlack, u"Black Listed Emails"_s,
         u"Any email that is from an address or domain in this list (other then friendly) will "
         u"be maked as spam. In Automatic mode the emails will be deleted."_s,
         emailList, emailFilter, emailCount, addEmailButton, editEmailButton, deleteEmailButton,
         u"email"_s},
        {ListKind::Friendly, u"Friendly Emails"_s,
         u"E-mail address listed here will always get though. This where you would store you "
         u"work, friends and family address's. You can even add a domain eg. @example.com"_s,
         friendlyList, friendlyFilter, friendlyCount, addFriendlyButton, editFriendlyButton,
         deleteFriendlyButton, u"friendly"_s},
    };
    for (Tab &tab : tabs) {
        auto *page = new QWidget(listTabs);
        page->setObjectName(tab.stem + u"Page"_s);
        auto *layout = new QVBoxLayout(page);
        auto *text = new QLabel(tab.text, page);
        text->setWordWrap(true);
        layout->addWidget(text);
        layout->addWidget(
            makeListPane(tab.kind, tab.stem + u"List"_s, tab.view, tab.filter, {250, 160}));
        tab.filter->setObjectName(tab.stem + u"Filter"_s);

        auto *row = new QHBoxLayout;
        const QString stem = tab.stem.left(1).toUpper() + tab.stem.mid(1);
        tab.add = makeButton(u"add"_s + stem + u"Button"_s, u"Add"_s, page);
        tab.edit = makeButton(u"edit"_s + stem + u"Button"_s, u"Edit"_s, page);
        tab.remove = makeButton(u"delete"_s + stem + u"Button"_s, u"Delete"_s, page);
        tab.count = new QLabel(countLabelText(tab.kind, 0), page);
        tab.count->setObjectName(tab.stem + u"Count"_s);
        row->addWidget(tab.add);
        row->addWidget(tab.edit);
        row->addWidget(tab.remove);
        row->addSpacing(12);
        row->addWidget(tab.count, 1);
        layout->addLayout(row);
        const ListKind kind = tab.kind;
        connect(tab.add, &QPushButton::clicked, this, [this, kind] { addEntry(kind); });
        connect(tab.edit, &QPushButton::clicked, this, [this, kind] { editEntry(kind); });
        connect(tab.remove, &QPushButton::clicked, this, [this, kind] { deleteEntry(kind); });
        listTabs->addTab(page, tab.title);
    }

    // Misc: the X-and-Y list and the fixed rules.
    auto *misc = new QWidget(listTabs);
    misc->setObjectName(u"miscPage"_s);
    auto *miscLayout = new QVBoxLayout(misc);
    wordPairBox = new QGroupBox(u"Subject contains X and Y"_s, misc);
    wordPairBox->setObjectName(u"wordPairBox"_s);
    auto *xyLayout = new QVBoxLayout(wordPairBox);
    auto *xyText = new QLabel(u"If subject contains x and y then mark it as spam (right click in "
                              u"box for options)"_s,
                              wordPairBox);
    xyText->setWordWrap(true);
    xyLayout->addWidget(xyText);
    xyLayout->addWidget(makeListPane(ListKind::XandY, u"wordPairList"_s, wordPairList,
                                     wordPairFilter, {120, 120, 160}));
    wordPairFilter->setObjectName(u"wordPairFilter"_s);
    miscLayout->addWidget(wordPairBox, 1);

    wordPairMenu = new QMenu(this);
    wordPairMenu->setObjectName(u"wordPairMenu"_s);
    addWordPairAction = wordPairMenu->addAction(u"Add"_s);
    addWordPairAction->setObjectName(u"addWordPairAction"_s);
    wordPairMenu->addSeparator();
    editWordPairAction = wordPairMenu->addAction(u"Edit"_s);
    editWordPairAction->setObjectName(u"editWordPairAction"_s);
    wordPairMenu->addSeparator();
    deleteWordPairAction = wordPairMenu->addAction(u"Delete"_s);
    deleteWordPairAction->setObjectName(u"deleteWordPairAction"_s);
    connect(addWordPairAction, &QAction::triggered, this, [this] { addEntry(ListKind::XandY); });
    connect(editWordPairAction, &QAction::triggered, this, [this] { editEntry(ListKind::XandY); });
    connect(deleteWordPairAction, &QAction::triggered, this,
            [this] { deleteEntry(ListKind::XandY); });
    wordPairList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(wordPairList, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        wordPairMenu->popup(wordPairList->viewport()->mapToGlobal(at));
    });

    fixedRulesBox = new QGroupBox(u"Misc E-mail Rules"_s, misc);
    fixedRulesBox->setObjectName(u"fixedRulesBox"_s);
    auto *rulesLayout = new QVBoxLayout(fixedRulesBox);
    auto *rulesText = new QLabel(u"This is an extra list of common spam features, tick the ones "
                                 u"you want to be in effect"_s,
                                 fixedRulesBox);
    rulesText->setWordWrap(true);
    rulesLayout->addWidget(rulesText);
    m_misc = new MiscRulesModel(m_lists.Misc, this);
    fixedRulesList = makeView(u"fixedRulesList"_s, fixedRulesBox);
    fixedRulesList->setModel(m_misc);
    fixedRulesList->setColumnWidth(0, 405);
    fixedRulesList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rulesLayout->addWidget(fixedRulesList);
    connect(m_misc, &MiscRulesModel::tickChanged, this, &RulesWindow::rulesChanged);
    miscLayout->addWidget(fixedRulesBox, 1);
    listTabs->addTab(misc, u"Misc"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(listTabs);
    resize(560, 520);

    // The dialogs change the lists; this window shows what they did.
    if (m_entryDialog) {
        m_entryDialog->setSelectionSource([this](ListKind kind) { return selectedEntry(kind); });
        connect(m_entryDialog, &ListEntryDialog::listChanged, this, &RulesWindow::refreshList);
    }
    if (m_xandyDialog) {
        m_xandyDialog->setSelectionSource([this] { return selectedEntry(ListKind::XandY); });
        connect(m_xandyDialog, &WordPairDialog::listChanged, this, &RulesWindow::refreshList);
    }
    for (ListKind kind : {ListKind::SubjectBlack, ListKind::EmailBlack, ListKind::Friendly})
        updateCount(kind);
}

RulesWindow::~RulesWindow() = default;

QWidget *RulesWindow::makeListPane(ListKind kind, const QString &name, QTreeView *&view,
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
    connect(view, &QAbstractItemView::doubleClicked, this, [this, kind] { editEntry(kind); });
    connect(model, &RuleListModel::captionEdited, this, [this, kind](int row) {
        // The filter may now hide or show the entry; keep it selected when it is shown.
        m_proxies[index(kind)]->invalidate();
        selectEntry(kind, row);
        updateCount(kind);
        Q_EMIT rulesChanged();
    });
    return pane;
}

RuleListModel *RulesWindow::model(ListKind kind) const {
    return m_models[index(kind)];
}

QSortFilterProxyModel *RulesWindow::proxy(ListKind kind) const {
    return m_proxies[index(kind)];
}

QTreeView *RulesWindow::view(ListKind kind) const {
    return m_views[index(kind)];
}

QLineEdit *RulesWindow::filter(ListKind kind) const {
    return m_filters[index(kind)];
}

void RulesWindow::showWindow() {
    refreshAll();
    show();
    raise();
    activateWindow();
}

void RulesWindow::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    QWidget::showEvent(event);
}

void RulesWindow::refreshList(ListKind kind) {
    // Keep the selected entry selected when it is still there.
    const qsizetype selected = selectedEntry(kind);
    model(kind)->refresh();
    if (selected >= 0 && selected < m_lists.list(kind).size())
        selectEntry(kind, selected);
    updateCount(kind);
    Q_EMIT rulesChanged();
}

void RulesWindow::refreshAll() {
    for (ListKind kind : kAllListKinds) {
        const qsizetype selected = selectedEntry(kind);
        model(kind)->refresh();
        if (selected >= 0 && selected < m_lists.list(kind).size())
            selectEntry(kind, selected);
        updateCount(kind);
    }
    m_misc->refresh();
}

qsizetype RulesWindow::selectedEntry(ListKind kind) const {
    const QTreeView *v = view(kind);
    const QModelIndexList rows = v->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return -1;
    return proxy(kind)->mapToSource(rows.first()).row();
}

void RulesWindow::selectEntry(ListKind kind, qsizetype entry) {
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

void RulesWindow::updateCount(ListKind kind) {
    QLabel *label = nullptr;
    switch (kind) {
    case ListKind::SubjectBlack:
        label = subjectCount;
        break;
    case ListKind::EmailBlack:
        label = emailCount;
        break;
    case ListKind::Friendly:
        label = friendlyCount;
        break;
    case ListKind::XandY:
        return;
    }
    label->setText(countLabelText(kind, m_lists.list(kind).size()));
}

void RulesWindow::addEntry(ListKind kind) {
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

void RulesWindow::editEntry(ListKind kind) {
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

void RulesWindow::deleteEntry(ListKind kind) {
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
