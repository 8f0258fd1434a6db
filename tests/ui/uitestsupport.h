#pragma once

// Fixtures shared by the tests of the windows: message boxes answered from a script, and a
// whole program (shell, windows, data directory) on a temporary directory with a fake POP3
// server behind it.

#include "core/settings/accountstore.h"
#include "fakepop3mailbox.h"
#include "testsupport.h"
#include "ui/screening/mainwindow.h"
#include "ui/shell/fileopener.h"
#include "ui/shell/programshell.h"
#include "ui/shell/prompts.h"

#include <QAction>
#include <QApplication>
#include <QList>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

namespace corvane::test {

// Records every box and answers it from a queue (OK, or No for a question, when empty).
class ScriptedPrompts final : public Prompts {
public:
    struct Shown {
        Icon icon;
        QString title;
        QString text;
    };

    QMessageBox::StandardButton show(QWidget *, Icon icon, const QString &title,
                                     const QString &text,
                                     QMessageBox::StandardButtons buttons) override {
        shown.append({icon, title, text});
        if (!answers.isEmpty())
            return answers.takeFirst();
        return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
    }

    // The texts shown so far, and forgets them.
    QStringList takeTexts() {
        QStringList texts;
        for (const Shown &s : std::as_const(shown))
            texts << s.text;
        shown.clear();
        return texts;
    }

    QList<Shown> shown;
    QList<QMessageBox::StandardButton> answers;
};

// Stands for the desktop's file opener: keeps the paths it was asked to open, with the file's
// contents at that moment, and answers as a desktop with (or, with available false, without)
// a mail program would.
class RecordingOpener final : public FileOpener {
public:
    bool open(const QString &path) override {
        paths << path;
        contents << readFile(path);
        return available;
    }
    void clear() {
        paths.clear();
        contents.clear();
    }
    bool available = true;
    QStringList paths;
    QList<QByteArray> contents;
};

// One run of the program on a data directory.
class ProgramRun {
public:
    explicit ProgramRun(const QString &directory) : shell(DataDirectory(directory), prompts, pop) {}

    // Starts the program and shows the main window.
    void start() {
        shell.start();
        main()->show();
    }
    MainWindow *main() const { return shell.mainWindow(); }
    AccountStore *store() const { return shell.accountStore(); }

    // Adds an account straight to the store and rebuilds the menus.
    void addAccount(const Account &account) {
        store()->insert(account);
        main()->refreshAccounts();
    }

    ScriptedPrompts prompts;
    FakePop3Mailbox pop;
    ProgramShell shell;
};

// The captions and tags of a menu's items, as "caption:tag".
inline QStringList menuItems(const QMenu *menu) {
    QStringList items;
    for (const QAction *a : menu->actions())
        items << a->text() + u':' + a->data().toString();
    return items;
}

// The action of a menu whose caption is text.
inline QAction *menuItem(const QMenu *menu, const QString &text) {
    for (QAction *a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

// Selects a row of the message list the way a click does.
inline void clickRow(MainWindow *main, int row) {
    QTreeView *view = main->messageList;
    const QRect rect = view->visualRect(view->model()->index(row, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

// The commands that talk to the server, as rows of a test table ("command"), and how a test
// starts one: the way the menu items and the account menu do.
inline void addServerCommandRows() {
    QTest::addColumn<QString>("command");
    QTest::newRow("check") << QStringLiteral("check");
    QTest::newRow("process") << QStringLiteral("process");
    QTest::newRow("view message") << QStringLiteral("view");
    QTest::newRow("view headers") << QStringLiteral("headers");
}
inline void startServerCommand(MainWindow *main, const QString &command) {
    if (command == QStringLiteral("check"))
        main->checkAccount(0);
    else if (command == QStringLiteral("process"))
        main->processMarkedMessages();
    else if (command == QStringLiteral("view"))
        main->viewEmail();
    else
        main->viewHeaders();
}

} // namespace corvane::test
