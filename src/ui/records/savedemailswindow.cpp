#include "ui/records/savedemailswindow.h"

#include "core/records/archivecopies.h"
#include "ui/records/archivelistmodel.h"
#include "ui/shell/icons.h"
#include "ui/shell/prompts.h"
#include "ui/shell/windowplacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

const QString kNoSelection = u"No message selected"_s;

// Removes a copy. True when it is gone, also when it was gone already; otherwise *reason
// says why it stays.
bool removeCopy(const QString &path, QString *reason) {
    QFile file(path);
    if (file.remove())
        return true;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    *reason = file.errorString();
    return false;
}

} // namespace

const QString SavedEmailsWindow::Caption = u"Saved Emails"_s;

SavedEmailsWindow::SavedEmailsWindow(QString archiveFolder, Prompts &prompts, QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_folder(std::move(archiveFolder)), m_prompts(prompts), m_model(new ArchiveListModel(this)),
      m_scan(new ArchiveScan(this)) {
    setObjectName(u"SavedEmailsWindow"_s);
    setWindowTitle(Caption);
    setModal(false);
    setSizeGripEnabled(true);

    toolBar = new QToolBar(this);
    toolBar->setObjectName(u"toolBar"_s);
    toolBar->setIconSize(QSize(24, 24));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    const auto button = [this](const QString &name, ToolIcon icon, const QString &text,
                               const QString &hint) {
        auto *b = new QToolButton(toolBar);
        b->setObjectName(name);
        b->setIcon(toolIcon(icon));
        b->setText(text);
        b->setToolTip(hint);
        b->setAccessibleName(text);
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setAutoRaise(true);
        b->setMinimumWidth(32);
        b->setFocusPolicy(Qt::TabFocus);
        return b;
    };
    refreshButton = button(u"refreshButton"_s, ToolIcon::Refresh, u"Refresh"_s,
                           u"Read the saved emails again"_s);
    deleteButton = button(u"deleteButton"_s, ToolIcon::DeleteOne, u"Delete"_s,
                          u"Mark current message for deletion"_s);
    deleteAllButton = button(u"deleteAllButton"_s, ToolIcon::DeleteAll, u"Delete all"_s,
                             u"Delete every saved email"_s);
    viewButton = button(u"viewButton"_s, ToolIcon::ViewSaved, u"View"_s,
                        u"Open the selected email in your mail program"_s);
    hintLabel =
        new QLabel(u"To view an email, double click on it or select it and click the yellow "
                   u"icon "_s,
                   toolBar);
    hintLabel->setObjectName(u"hintLabel"_s);
    hintLabel->setContentsMargins(8, 0, 4, 0);
    toolBar->addWidget(refreshButton);
    toolBar->addSeparator();
    toolBar->addWidget(deleteButton);
    toolBar->addWidget(deleteAllButton);
    toolBar->addSeparator();
    toolBar->addWidget(viewButton);
    toolBar->addWidget(hintLabel);
    connect(refreshButton, &QToolButton::clicked, this, &SavedEmailsWindow::refreshList);
    connect(deleteButton, &QToolButton::clicked, this, &SavedEmailsWindow::deleteSelectedCopy);
    connect(deleteAllButton, &QToolButton::clicked, this, &SavedEmailsWindow::deleteAllCopies);
    connect(viewButton, &QToolButton::clicked, this, &SavedEmailsWindow::viewSelectedCopy);

    copyList = new QTreeView(this);
    copyList->setObjectName(u"copyList"_s);
    copyList->setModel(m_model);
    copyList->setRootIsDecorated(false);
    copyList->setItemsExpandable(false);
    copyList->setUniformRowHeights(true);
    copyList->setAllColumnsShowFocus(true);
    copyList->setSortingEnabled(false);
    copyList->setSelectionBehavior(QAbstractItemView::SelectRows);
    copyList->setSelectionMode(QAbstractItemView::SingleSelection);
    copyList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    copyList->setIconSize(QSize(16, 16));
    copyList->setTextElideMode(Qt::ElideRight);
    QHeaderView *columns = copyList->header();
    columns->setStretchLastSection(false);
    columns->setSectionsMovable(false);
    columns->setMinimumSectionSize(40);
    columns->setSectionResizeMode(ArchiveListModel::SubjectColumn, QHeaderView::Stretch);
    const int widths[] = {0, 150, 150, 80};
    for (int c = ArchiveListModel::FromColumn; c < ArchiveListModel::ColumnCount; ++c) {
        columns->setSectionResizeMode(c, QHeaderView::Interactive);
        columns->resizeSection(c, widths[c]);
    }
    copyList->installEventFilter(this);
    connect(copyList, &QAbstractItemView::clicked, this, &SavedEmailsWindow::copyClicked);
    connect(copyList, &QAbstractItemView::doubleClicked, this,
            &SavedEmailsWindow::copyDoubleClicked);
    connect(copyList->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        showSelection();
        updateCommands();
    });

    statusBar = new QStatusBar(this);
    statusBar->setObjectName(u"statusBar"_s);
    statusBar->setSizeGripEnabled(false);
    const int panelWidths[] = {160, 50};
    for (int i = 0; i < 2; ++i) {
        auto *panel = new QLabel(statusBar);
        panel->setObjectName(u"StatusPanel%1"_s.arg(i));
        panel->setMinimumWidth(panelWidths[i]);
        panel->setContentsMargins(4, 0, 4, 0);
        m_panels[i] = panel;
        statusBar->addWidget(panel);
    }
    m_panels[0]->setText(kNoSelection);
    progressBar = new QProgressBar(statusBar);
    progressBar->setObjectName(u"progressBar"_s);
    progressBar->setFormat(u"Reading %v of %m"_s);
    progressBar->setMaximumWidth(220);
    progressBar->setVisible(false);
    statusBar->addPermanentWidget(progressBar);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addWidget(copyList, 1);
    layout->addWidget(statusBar);
    setTabOrder(copyList, refreshButton);
    setTabOrder(refreshButton, deleteButton);
    setTabOrder(deleteButton, deleteAllButton);
    setTabOrder(deleteAllButton, viewButton);
    resize(666, 310);

    connect(m_scan, &ArchiveScan::namesFound, this, [this](int total) {
        progressBar->setRange(0, qMax(total, 1));
        progressBar->setValue(0);
        progressBar->setVisible(total > 0);
    });
    connect(m_scan, &ArchiveScan::copiesRead, this,
            [this](const QList<ArchiveCopy> &copies, int done, int) {
                const bool first = m_model->rowCount() == 0;
                m_model->append(copies);
                progressBar->setValue(done);
                if (first)
                    updateCommands();
                showCount();
            });
    connect(m_scan, &ArchiveScan::finished, this, &SavedEmailsWindow::scanDone);
    updateCommands();
}

SavedEmailsWindow::~SavedEmailsWindow() = default;

void SavedEmailsWindow::showWindow() {
    show();
    raise();
    activateWindow();
}

QStringList SavedEmailsWindow::archiveNames() const {
    return m_model->names();
}

bool SavedEmailsWindow::scanning() const {
    return m_scan->running();
}

QString SavedEmailsWindow::panelText(int panel) const {
    return m_panels[panel]->text();
}

QString SavedEmailsWindow::pathOf(int row) const {
    return QDir(m_folder).filePath(m_model->copy(row).name);
}

int SavedEmailsWindow::selectedRow() const {
    const QModelIndexList rows = copyList->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void SavedEmailsWindow::selectRow(int row) {
    if (row < 0 || row >= m_model->rowCount()) {
        copyList->clearSelection();
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    copyList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                           QItemSelectionModel::Rows);
    copyList->scrollTo(index);
}

void SavedEmailsWindow::showSelection() {
    const int row = selectedRow();
    m_panels[0]->setText(
        row < 0 ? kNoSelection
                : u"Message %1 of %2 selected"_s.arg(row + 1).arg(m_model->rowCount()));
}

void SavedEmailsWindow::updateCommands() {
    const bool selected = selectedRow() >= 0;
    deleteButton->setEnabled(selected);
    viewButton->setEnabled(selected);
    // Delete all acts on the whole list: not before it has been read to its end.
    deleteAllButton->setEnabled(!m_scan->running() && m_model->rowCount() > 0);
}

void SavedEmailsWindow::showCount() {
    const int rows = m_model->rowCount();
    m_panels[1]->setText(rows == 1 ? u"1 email"_s : u"%1 emails"_s.arg(rows));
}

void SavedEmailsWindow::emptyList() {
    m_scan->stop();
    m_model->clear();
    progressBar->setVisible(false);
    m_panels[0]->setText(kNoSelection);
    m_panels[1]->clear();
    updateCommands();
}

// ---- reading the archive ------------------------------------------------------------------

void SavedEmailsWindow::scanArchive() {
    emptyList();
    m_scan->start(m_folder);
    updateCommands();
}

void SavedEmailsWindow::scanDone(int skipped) {
    Q_UNUSED(skipped); // copies that are not whole message files are left out without a word
    progressBar->setVisible(false);
    showCount();
    showSelection();
    updateCommands();
    Q_EMIT scanFinished();
    if (m_model->rowCount() == 0)
        m_prompts.information(this, u"No emails found"_s);
}

// ---- commands ------------------------------------------------------------------------------

void SavedEmailsWindow::refreshList() {
    scanArchive();
}

void SavedEmailsWindow::deleteSelectedCopy() {
    const int row = selectedRow();
    if (row < 0)
        return;
    // The copy is the only one left of a message deleted from the server.
    if (m_prompts.show(this, Prompts::Icon::Question, Prompts::Title,
                       u"Delete the saved email \"%1\"? It cannot be brought back."_s.arg(
                           m_model->copy(row).name),
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    QString reason;
    if (!removeCopy(pathOf(row), &reason)) {
        m_prompts.error(this, u"The saved email \"%1\" could not be deleted: %2"_s.arg(
                                  m_model->copy(row).name, reason));
        return;
    }
    m_model->remove(row);
    // The next row takes the place of the deleted one, so that Delete can be pressed again.
    selectRow(qMin(row, m_model->rowCount() - 1));
    showSelection();
    showCount();
    updateCommands();
}

void SavedEmailsWindow::deleteAllCopies() {
    const int rows = m_model->rowCount();
    if (rows == 0 || m_scan->running())
        return;
    const QString question =
        rows == 1 ? u"Delete the saved email? It cannot be brought back."_s
                  : u"Delete all %1 saved emails? They cannot be brought back."_s.arg(rows);
    if (m_prompts.show(this, Prompts::Icon::Question, Prompts::Title, question,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    int failed = 0;
    QString firstFailure;
    for (int row = rows - 1; row >= 0; --row) {
        QString reason;
        if (removeCopy(pathOf(row), &reason)) {
            m_model->remove(row);
        } else {
            ++failed;
            firstFailure = u"\"%1\": %2"_s.arg(m_model->copy(row).name, reason);
        }
    }
    copyList->clearSelection();
    showSelection();
    showCount();
    updateCommands();
    if (failed == 1)
        m_prompts.error(this, u"A saved email could not be deleted and stays in the list. "_s +
                                  firstFailure);
    else if (failed > 1)
        m_prompts.error(this, u"%1 saved emails could not be deleted and stay in the list. The "
                              u"first: %2"_s.arg(failed)
                                  .arg(firstFailure));
}

void SavedEmailsWindow::viewSelectedCopy() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const QString path = pathOf(row);
    if (!QFileInfo::exists(path)) {
        m_prompts.error(this, u"The saved email \"%1\" is no longer in the archive folder."_s.arg(
                                  m_model->copy(row).name));
        m_model->remove(row);
        showSelection();
        showCount();
        updateCommands();
        return;
    }
    openMessageFile(m_opener ? *m_opener : static_cast<FileOpener &>(m_desktopOpener), m_prompts,
                    this, path);
}

void SavedEmailsWindow::copyClicked() {
    showSelection();
}

void SavedEmailsWindow::copyDoubleClicked() {
    viewSelectedCopy();
}

// ---- showing and hiding --------------------------------------------------------------------

void SavedEmailsWindow::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // A window restored from the task bar shows again without being read again.
    if (event->spontaneous())
        return;
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    scanArchive();
}

void SavedEmailsWindow::hideEvent(QHideEvent *event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        emptyList();
}

bool SavedEmailsWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == copyList && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                viewSelectedCopy();
                return true;
            case Qt::Key_Delete:
                deleteSelectedCopy();
                return true;
            default:
                break;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace corvane
