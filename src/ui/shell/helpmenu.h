#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

class QMessageBox;

namespace corvane {

struct Settings;
class MainWindow;

// Hands a URL (a web page, a mailto: address, a local file) to the desktop's own handler: the
// user's browser or mail program. Tests put a recorder in its place.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // Whether a program could be started is not reported.
    virtual void openUrl(const QUrl &url) = 0;
};

// The desktop's handler, through QDesktopServices.
class DesktopUrlOpener final : public UrlOpener {
public:
    void openUrl(const QUrl &url) override;
};

// The main window's Help menu: the user guide, a mail to support, the publisher's web site,
// and the About boxes. The addresses are read from the settings at the moment of use.
class HelpMenu final : public QObject {
    Q_OBJECT
public:
    HelpMenu(MainWindow *main, const Settings &settings);

    // Who opens the targets; null: the desktop's handler.
    void setOpener(UrlOpener *opener) { m_opener = opener; }
    // The folder of the program's executable (tests give their own).
    void setProgramDirectory(const QString &directory) { m_programDirectory = directory; }

    // Where the user guide may be, best first: help/index.html beside the program (a copy
    // unpacked in one folder), the installed documentation, then the source tree of a build
    // run where it was built.
    static QStringList helpFileCandidates(const QString &programDirectory);
    // The first candidate that exists; the first of all when none does (the browser then says
    // that it is missing).
    static QString helpFile(const QString &programDirectory);

    QUrl helpUrl() const;
    QUrl supportUrl() const;
    QUrl websiteUrl() const;

    // The About box, made on first use and shown without blocking.
    QMessageBox *aboutBox() const { return m_about; }

public Q_SLOTS:
    void Help2Click();
    void contactSupport();
    void visitWebsite();
    void showAbout();
    void showAboutQt();

private:
    void open(const QUrl &url);

    MainWindow *m_main;
    const Settings &m_settings;
    UrlOpener *m_opener = nullptr;
    DesktopUrlOpener m_desktop;
    QString m_programDirectory;
    QMessageBox *m_about = nullptr; // a child of the main window
};

} // namespace corvane
