#include "ui/shell/helpmenu.h"

#include "core/settings/settings.h"
#include "ui/screening/mainwindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include <zlib.h>

using namespace Qt::StringLiterals;

namespace corvane {

void DesktopUrlOpener::openUrl(const QUrl &url) {
    QDesktopServices::openUrl(url);
}

HelpMenu::HelpMenu(MainWindow *main, const Settings &settings)
    : QObject(main), m_main(main), m_settings(settings),
      m_programDirectory(QCoreApplication::applicationDirPath()) {
    setObjectName(u"HelpMenu"_s);
    connect(main->helpAction, &QAction::triggered, this, &HelpMenu::Help2Click);
    connect(main->contactSupportAction, &QAction::triggered, this, &HelpMenu::contactSupport);
    connect(main->visitWebsiteAction, &QAction::triggered, this, &HelpMenu::visitWebsite);
    connect(main->aboutAction, &QAction::triggered, this, &HelpMenu::showAbout);
    connect(main->aboutQtAction, &QAction::triggered, this, &HelpMenu::showAboutQt);
    for (QAction *item : {main->helpAction, main->contactSupportAction, main->visitWebsiteAction,
                          main->aboutAction, main->aboutQtAction})
        main->setCommandAvailable(item, true);
}

QStringList HelpMenu::helpFileCandidates(const QString &programDirectory) {
    const QDir dir(programDirectory);
    QStringList candidates{dir.filePath(u"help/index.html"_s),
                           QDir::cleanPath(dir.filePath(QStringLiteral(CORVANE_DOCDIR_FROM_BINDIR) +
                                                        u"/help/index.html"_s))};
#ifdef CORVANE_SOURCE_HELP
    candidates << QStringLiteral(CORVANE_SOURCE_HELP);
#endif
    return candidates;
}

QString HelpMenu::helpFile(const QString &programDirectory) {
    const QStringList candidates = helpFileCandidates(programDirectory);
    for (const QString &path : candidates)
        if (QFileInfo(path).isFile())
            return path;
    return candidates.first();
}

QUrl HelpMenu::helpUrl() const {
    return QUrl::fromLocalFile(helpFile(m_programDirectory));
}

QUrl HelpMenu::supportUrl() const {
    QUrl url;
    url.setScheme(u"mailto"_s);
    url.setPath(m_settings.supportaddress.trimmed());
    return url;
}

QUrl HelpMenu::websiteUrl() const {
    // A bare host name ("www.example.org") is taken as a web address.
    return QUrl::fromUserInput(m_settings.website.trimmed());
}

void HelpMenu::open(const QUrl &url) {
    if (url.isEmpty() || !url.isValid())
        return;
    (m_opener ? *m_opener : static_cast<UrlOpener &>(m_desktop)).openUrl(url);
}

void HelpMenu::Help2Click() {
    open(helpUrl());
}

void HelpMenu::contactSupport() {
    if (m_settings.supportaddress.trimmed().isEmpty())
        return;
    open(supportUrl());
}

void HelpMenu::visitWebsite() {
    open(websiteUrl());
}

void HelpMenu::showAbout() {
    if (!m_about) {
        m_about = new QMessageBox(m_main);
        m_about->setObjectName(u"AboutBox"_s);
        m_about->setWindowTitle(u"About Corvane"_s);
        m_about->setIconPixmap(m_main->windowIcon().pixmap(64, 64));
        m_about->setTextFormat(Qt::RichText);
        m_about->setStandardButtons(QMessageBox::Ok);
        m_about->setModal(false);
        m_about->setText(
            u"<h3>Corvane %1</h3>"
            u"<p>Screens your POP3 mailboxes for spam before your mail program downloads "
            u"them.</p>"
            u"<p>Copyright &copy; the Corvane developers.<br>"
            u"Corvane is free software: you can redistribute it and/or modify it under the terms "
            u"of the GNU General Public License as published by the Free Software Foundation, "
            u"either version 3 of the License, or (at your option) any later version "
            u"(GPL-3.0-or-later). It comes with no warranty.</p>"
            u"<p>Built with Qt %2 (running on Qt %3), zlib %4 and SQLite through Qt SQL.</p>"_s.arg(
                QStringLiteral(CORVANE_VERSION), QStringLiteral(QT_VERSION_STR),
                QString::fromLatin1(qVersion()), QString::fromLatin1(zlibVersion())));
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void HelpMenu::showAboutQt() {
    QMessageBox::aboutQt(m_main, u"About Qt"_s);
}

} // namespace corvane
