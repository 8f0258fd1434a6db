#pragma once

#include "ui/shell/fileopener.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QProgressBar;
class QStatusBar;
class QToolBar;
class QToolButton;
class QTreeView;

namespace corvane {

class ArchiveListModel;
class ArchiveScan;
class Prompts;

// The archive window "Saved Emails": the copies of deleted messages in the archive folder,
// by subject, sender, recipients and date, with commands to view a copy in the user's mail
// program and to delete copies. The list is read afresh each time the window is shown and on
// Refresh, on a worker thread, so that a folder of thousands of copies never holds the window
// up; the rows appear as they are read, with a progress bar. Closing the window only hides
// it, and empties the list.
class SavedEmailsWindow final : public QDialog {
    Q_OBJECT
public:
    static const QString Caption; // "Saved Emails"

    SavedEmailsWindow(QString archiveFolder, Prompts &prompts, QWidget *parent = nullptr);
    ~SavedEmailsWindow() override;

    // Where View hands the copies (tests put a recorder here); the desktop's own by default.
    void setFileOpener(FileOpener *opener) { m_opener = opener; }
    // Shows the window without blocking the others (brings it forward when shown already).
    void showWindow();
    // The file names of the listed copies, row by row.
    QStringList archiveNames() const;
    // Whether the list is still being read.
    bool scanning() const;
    QString panelText(int panel) const;
    const QString &archiveFolder() const { return m_folder; }

    QToolBar *toolBar;
    QToolButton *refreshButton;   // Refresh
    QToolButton *deleteButton;    // Delete
    QToolButton *deleteAllButton; // Delete all
    QToolButton *viewButton;      // View (the yellow icon)
    QLabel *hintLabel;            // how to view a copy
    QTreeView *copyList;
    QStatusBar *statusBar;
    QProgressBar *progressBar; // shown while the list is read

Q_SIGNALS:
    // A scan has ended (every copy read, or none to read).
    void scanFinished();

public Q_SLOTS:
    void scanArchive();
    void refreshList();
    void deleteAllCopies();
    void viewSelectedCopy();
    void deleteSelectedCopy();
    void copyClicked();
    void copyDoubleClicked();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int selectedRow() const;
    void selectRow(int row);
    void showSelection();
    void updateCommands();
    void showCount();
    void scanDone(int skipped);
    void emptyList();
    QString pathOf(int row) const;

    QString m_folder;
    Prompts &m_prompts;
    FileOpener *m_opener = nullptr;
    DesktopFileOpener m_desktopOpener;
    ArchiveListModel *m_model;
    ArchiveScan *m_scan;
    QLabel *m_panels[2];
    bool m_placed = false;
};

} // namespace corvane
