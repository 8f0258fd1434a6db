#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace corvane {

class SvgPicture;
struct Settings;

// The Welcome window: four pages that greet a user without accounts, lead them to add one and
// to fetch the master lists, and point them to help and support. It does no work of its own;
// its two links open the Add Account dialog and the update window, and Finish has the account
// menus rebuilt. Closing it only hides it.
class WelcomeWizard final : public QDialog {
    Q_OBJECT
public:
    static constexpr int PageCount = 4;

    // settings: the publisher's support page and address named on the last page.
    explicit WelcomeWizard(const Settings &settings, QWidget *parent = nullptr);

    // What the two links open; a link without a command is disabled.
    void setAddAccountCommand(std::function<void()> command);
    void setListUpdateCommand(std::function<void()> command);

    int currentPage() const;

    SvgPicture *sidePicture;     // the tall picture on the left
    SvgPicture *bannerPicture;   // the banner across the top
    QStackedWidget *pages;       // the four pages; their tabs are never shown
    QPushButton *previousButton; // "Previous"
    QPushButton *nextButton;     // "Next"
    QPushButton *finishButton;   // "Finish"
    QPushButton *addAccountLink; // page 2: to the Add Account dialog
    QPushButton *listUpdateLink; // page 3: to the update window
    QLabel *supportLabel;        // page 4: how support is reached

Q_SIGNALS:
    // Finish was pressed: the account menus are rebuilt on this.
    void wizardFinished();

public Q_SLOTS:
    void showPreviousPage();
    void showNextPage();
    void finish();
    void openAddAccount();
    void openListUpdate();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildPages();
    void showPage(int index);
    void updateButtons();
    void showSupport();
    QWidget *page(const QString &name, const QList<QWidget *> &top, const QString &bottomRight);

    const Settings &m_settings;
    std::function<void()> m_addAccount;
    std::function<void()> m_listUpdate;
    bool m_placed = false;
};

} // namespace corvane
