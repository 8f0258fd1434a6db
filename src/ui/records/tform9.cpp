#include "ui/records/tform9.h"

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

const QString TForm9::Caption = u"Saved Emails"_s;

TForm9::TForm9(QString archiveFolder, Prompts &prompts, QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_folder(std::move(archiveFolder)), m_prompts(prompts), m_model(new ArchiveListModel(this)),
      m_scan(new ArchiveScan(this)) {
    setObjectName(u"TForm9"_s);
    setWindowTitle(Caption);
    setModal(false);
    setSizeGripEnabled(true);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(u"ToolBar1"_s);
    ToolBar1->setIconSize(QSize(24, 24));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    const auto button = [this](const QString &name, ToolIcon icon, const QString &text,
                               const QString &hint) {
        auto *b = new QToolButton(ToolBar1);
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
    ToolButton1 =
        button(u"ToolButton1"_s, ToolIcon::Refresh, u"Refresh"_s, u"Read the saved emails again"_s);
    ToolButton4 = button(u"ToolButton4"_s, ToolIcon::DeleteOne, u"Delete"_s,
                         u"Mark current message for deletion"_s);
    ToolButton2 = button(u"ToolButton2"_s, ToolIcon::DeleteAll, u"Delete all"_s,
                         u"Delete every saved email"_s);
    ToolButton3 = button(u"ToolButton3"_s, ToolIcon::ViewSaved, u"View"_s,
                         u"Open the selected email in your mail program"_s);
    Panel1 = new QLabel(u"To view an email, double click on it or select it and click the yellow "
                        u"icon "_s,
                        ToolBar1);
    Panel1->setObjectName(u"Panel1"_s);
    Panel1->setContentsMargins(8, 0, 4, 0);
    ToolBar1->addWidget(ToolButton1);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(ToolButton4);
    ToolBar1->addWidget(ToolButton2);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(ToolButton3);
    ToolBar1->addWidget(Panel1);
    connect(ToolButton1, &QToolButton::clicked, this, &TForm9::ToolButton1Click);
    connect(ToolButton4, &QToolButton::clicked, this, &TForm9::ToolButton4Click);
    connect(ToolButton2, &QToolButton::clicked, this, &TForm9::ToolButton2Click);
    connect(ToolButton3, &QToolButton::clicked, this, &TForm9::ToolButton3Click);

    lvHeaders = new QTreeView(this);
    lvHeaders->setObjectName(u"lvHeaders"_s);
    lvHeaders->setModel(m_model);
    lvHeaders->setRootIsDecorated(false);
    lvHeaders->setItemsExpandable(false);
    lvHeaders->setUniformRowHeights(true);
    lvHeaders->setAllColumnsShowFocus(true);
    lvHeaders->setSortingEnabled(false);
    lvHeaders->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvHeaders->setSelectionMode(QAbstractItemView::SingleSelection);
    lvHeaders->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvHeaders->setIconSize(QSize(16, 16));
    lvHeaders->setTextElideMode(Qt::ElideRight);
    QHeaderView *columns = lvHeaders->header();
    columns->setStretchLastSection(false);
    columns->setSectionsMovable(false);
    columns->setMinimumSectionSize(40);
    columns->setSectionResizeMode(ArchiveListModel::SubjectColumn, QHeaderView::Stretch);
    const int widths[] = {0, 150, 150, 80};
    for (int c = ArchiveListModel::FromColumn; c < ArchiveListModel::ColumnCount; ++c) {
        columns->setSectionResizeMode(c, QHeaderView::Interactive);
        columns->resizeSection(c, widths[c]);
    }
    lvHeaders->installEventFilter(this);
    connect(lvHeaders, &QAbstractItemView::clicked, this, &TForm9::lvHeadersClick);
    connect(lvHeaders, &QAbstractItemView::doubleClicked, this, &TForm9::lvHeadersDblClick);
    connect(lvHeaders->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        showSelection();
        updateCommands();
    });

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(u"StatusBar1"_s);
    StatusBar1->setSizeGripEnabled(false);
    const int panelWidths[] = {160, 50};
    for (int i = 0; i < 2; ++i) {
        auto *panel = new QLabel(StatusBar1);
        panel->setObjectName(u"StatusPanel%1"_s.arg(i));
        panel->setMinimumWidth(panelWidths[i]);
        panel->setContentsMargins(4, 0, 4, 0);
        m_panels[i] = panel;
        StatusBar1->addWidget(panel);
    }
    m_panels[0]->setText(kNoSelection);
    ProgressBar1 = new QProgressBar(StatusBar1);
    ProgressBar1->setObjectName(u"ProgressBar1"_s);
    ProgressBar1->setFormat(u"Reading %v of %m"_s);
    ProgressBar1->setMaximumWidth(220);
    ProgressBar1->setVisible(false);
    StatusBar1->addPermanentWidget(ProgressBar1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar1);
    layout->addWidget(lvHeaders, 1);
    layout->addWidget(StatusBar1);
    setTabOrder(lvHeaders, ToolButton1);
    setTabOrder(ToolButton1, ToolButton4);
    setTabOrder(ToolButton4, ToolButton2);
    setTabOrder(ToolButton2, ToolButton3);
    resize(666, 310);

    connect(m_scan, &ArchiveScan::namesFound, this, [this](int total) {
        ProgressBar1->setRange(0, qMax(total, 1));
        ProgressBar1->setValue(0);
        ProgressBar1->setVisible(total > 0);
    });
    connect(m_scan, &ArchiveScan::copiesRead, this,
            [this](const QList<ArchiveCopy> &copies, int done, int) {
                const bool first = m_model->rowCount() == 0;
                m_model->append(copies);
                ProgressBar1->setValue(done);
                if (first)
                    updateCommands();
                showCount();
            });
    connect(m_scan, &ArchiveScan::finished, this, &TForm9::scanDone);
    updateCommands();
}

TForm9::~TForm9() = default;

void TForm9::showWindow() {
    show();
    raise();
    activateWindow();
}

QStringList TForm9::ArchiveNames() const {
    return m_model->names();
}

bool TForm9::scanning() const {
    return m_scan->running();
}

QString TForm9::panelText(int panel) const {
    return m_panels[panel]->text();
}

QString TForm9::pathOf(int row) const {
    return QDir(m_folder).filePath(m_model->copy(row).name);
}

int TForm9::selectedRow() const {
    const QModelIndexList rows = lvHeaders->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TForm9::selectRow(int row) {
    if (row < 0 || row >= m_model->rowCount()) {
        lvHeaders->clearSelection();
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    lvHeaders->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
    lvHeaders->scrollTo(index);
}

void TForm9::showSelection() {
    const int row = selectedRow();
    m_panels[0]->setText(
        row < 0 ? kNoSelection
                : u"Message %1 of %2 selected"_s.arg(row + 1).arg(m_model->rowCount()));
}

void TForm9::updateCommands() {
    const bool selected = selectedRow() >= 0;
    ToolButton4->setEnabled(selected);
    ToolButton3->setEnabled(selected);
    // Delete all acts on the whole list: not before it has been read to its end.
    ToolButton2->setEnabled(!m_scan->running() && m_model->rowCount() > 0);
}

void TForm9::showCount() {
    const int rows = m_model->rowCount();
    m_panels[1]->setText(rows == 1 ? u"1 email"_s : u"%1 emails"_s.arg(rows));
}

void TForm9::emptyList() {
    m_scan->stop();
    m_model->clear();
    ProgressBar1->setVisible(false);
    m_panels[0]->setText(kNoSelection);
    m_panels[1]->clear();
    updateCommands();
}

// ---- reading the archive ------------------------------------------------------------------

void TForm9::ScanArchive() {
    emptyList();
    m_scan->start(m_folder);
    updateCommands();
}

void TForm9::scanDone(int skipped) {
    Q_UNUSED(skipped); // copies that are not whole message files are left out without a word
    ProgressBar1->setVisible(false);
    showCount();
    showSelection();
    updateCommands();
    Q_EMIT scanFinished();
    if (m_model->rowCount() == 0)
        m_prompts.information(this, u"No emails found"_s);
}

// ---- commands ------------------------------------------------------------------------------

void TForm9::ToolButton1Click() {
    ScanArchive();
}

void TForm9::ToolButton4Click() {
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

void TForm9::ToolButton2Click() {
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
    lvHeaders->clearSelection();
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

void TForm9::ToolButton3Click() {
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

void TForm9::lvHeadersClick() {
    showSelection();
}

void TForm9::lvHeadersDblClick() {
    ToolButton3Click();
}

// ---- showing and hiding --------------------------------------------------------------------

void TForm9::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // A window restored from the task bar shows again without being read again.
    if (event->spontaneous())
        return;
    if (!m_placed) {
        m_placed = true;
        centreOnScreen(this);
    }
    ScanArchive();
}

void TForm9::hideEvent(QHideEvent *event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        emptyList();
}

bool TForm9::eventFilter(QObject *watched, QEvent *event) {
    if (watched == lvHeaders && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                ToolButton3Click();
                return true;
            case Qt::Key_Delete:
                ToolButton4Click();
                return true;
            default:
                break;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace corvane
