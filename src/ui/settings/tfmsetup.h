#pragma once

#include "core/settings/secretstore.h"

#include "core/platform/autostart.h"
#include "ui/shell/servercommand.h"

#include <QColor>
#include <QDialog>

#include <functional>
#include <optional>

class QCheckBox;
class QFrame;
class QLabel;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QTimer;
class QToolButton;

namespace corvane {

class AccountStore;
class LearningPage;
class LearningStore;
class Prompts;
class AddAccountDialog;
class EditAccountDialog;
class DeletionLogWindow;
struct Settings;

// The options window "Setup": every option of the program, the accounts, the colours, the
// bounce texts and the outgoing mail server. Its controls change Settings at once; there is no
// apply step, and the options are written to Settings.ini at shutdown.
class TfmSetup final : public QDialog {
    Q_OBJECT
public:
    // Asks the user for a colour, starting from initial; nothing when the user cancels.
    using ColourChooser = std::function<std::optional<QColor>(const QColor &initial, QWidget *)>;

    TfmSetup(Settings &settings, Prompts &prompts, QWidget *parent = nullptr);

    // The start-with-the-session entry and the command it starts; without one the tick only
    // changes the setting.
    void setStartWithSystem(StartWithSystem *entry, StartCommand command);
    void setAccountStore(AccountStore *store);
    void setAccountDialogs(AddAccountDialog *add, EditAccountDialog *edit);
    // The learned filter the Learning tab shows and trains.
    void setLearning(LearningStore *store);
    // The windows the two links show.
    void setRecordWindows(DeletionLogWindow *logWindow, QWidget *archiveWindow);
    // Whether the desktop has a notification area; without one the tray tick says why it has
    // no effect.
    void setTrayAvailable(bool available);
    // Replaces the system colour chooser (tests).
    void setColourChooser(ColourChooser chooser) { m_chooser = std::move(chooser); }
    // Shows the current values of Settings in the controls, without running their handlers.
    void showSettings();
    // Takes over the stored start-up options: a true Startup writes the entry again with
    // the current command (a failure is shown), a true Systray ticks its box.
    void takeOverStoredSettings();

    // Whether the SMTP settings are still the placeholders a new installation starts with.
    static bool smtpIsPlaceholder(const Settings &settings);
    // Stores the SMTP password when the user has typed it (the secret store of the data
    // folder); returns where it went and throws corvane::Error when it could not be stored.
    // Without one the typed password is used for this run only.
    using PasswordStore = std::function<SecretStore::Place(const QString &password)>;
    void setPasswordStore(PasswordStore store) { m_passwordStore = std::move(store); }
    // The folder of the black list files that "Submit" sends; their sizes are shown as they
    // lie there now, and again after each submission as they were sent.
    void setListFolder(const QString &folder);
    // Writes the black lists as the program holds them into their files, so that Submit sends
    // what the user sees; throws corvane::Error when a file cannot be written.
    using ListSaver = std::function<void()>;
    void setListSaver(ListSaver saver) { m_listSaver = std::move(saver); }
    // The gate the submission passes; without one it runs straight away.
    void setCommandRunner(ServerCommandRunner runner) { m_runner = std::move(runner); }

    QTabWidget *PageControl1;
    LearningPage *learningPage; // the Learning tab
    // Options
    QCheckBox *CheckBox1;      // "Load program when windows starts"
    QCheckBox *CheckBox4;      // "Show icon in system tray"
    QLabel *lblNoTray;         // why the tick has no effect on a desktop without a tray
    QCheckBox *CheckBox5;      // desktop notifications of automatic passes
    QCheckBox *CheckBox2;      // "Log details of emails deleted"
    QCheckBox *CheckBox3;      // "Save a copy of deleted emails"
    QPushButton *SpeedButton1; // "Click here to view log"
    QPushButton *SpeedButton2; // "Click here to view archive"
    QLineEdit *Edit4;          // the publisher's web site
    QLineEdit *Edit5;          // the publisher's support address
    // Automatic Mode
    QSpinBox *SpinEdit1; // minutes between automatic passes
    // Accounts
    QTableWidget *DBGrid1;         // the accounts, one column "Account Name"
    QPushButton *Button1;          // "Add New"
    QPushButton *Button2;          // "Edit Selected"
    QPushButton *Button3;          // "Remove Selected"
    QLabel *Label15;               // "<n> Accounts listed"
    QCheckBox *CheckBoxPipelining; // several header requests in flight (pop3pipelining)
    // Colors
    QFrame *Shape1;            // spam rows
    QFrame *Shape2;            // friendly rows
    QFrame *Shape3;            // the message list's background
    QPushButton *SpeedButton3; // "Select" beside Shape1
    QPushButton *SpeedButton4; // "Select" beside Shape2
    QPushButton *SpeedButton5; // "Select" beside Shape3
    // Bouncing
    QLineEdit *Edit2;     // "Bounce Sender"
    QLineEdit *Edit3;     // "Bounce Subject"
    QLabel *BounceNotice; // shown while the SMTP settings are placeholders
    // SMTP
    QLineEdit *SMTPServer;
    QLineEdit *SMTPPort;
    QLineEdit *Edit1;         // "E-Mail Address"
    QComboBox *SMTPSecurity;  // smtpsecurity: the port's default, none, STARTTLS or TLS
    QLineEdit *SMTPUser;      // smtpuser
    QLineEdit *SMTPPassword;  // the password, kept in the secret store
    QLabel *SMTPPasswordNote; // where the password is kept, or why it could not be stored
    QLabel *SmtpNotice;       // shown while the SMTP settings are placeholders
    // Submitting
    QLabel *SizeSubj;         // size of blsubj.dat, or "no file yet"
    QLabel *SizeEmail;        // size of bleml.dat
    QLabel *SizeXY;           // size of blsubxy.dat
    QPushButton *Button4;     // "Submit"
    QLabel *SubmitResult;     // what the last submission sent, or why it failed
    QLineEdit *UpdateUrl;     // the publisher's folder of master lists (updateurl)
    QLineEdit *SubmitAddress; // the publisher's collection address (submitaddress)
    QLabel *ExchangeNotice;   // shown while either address is still the example
    QPushButton *BitBtn1;     // "OK"
    // The one-shot timer of a start without accounts: half a second after start-up it has
    // the Welcome window shown.
    QTimer *Timer1;

Q_SIGNALS:
    // The list colour (Shape3) was chosen or its chooser closed: the message list repaints.
    void listColourChosen();
    // The Systray tick changed.
    void systrayChanged(bool shown);
    // The spam or friendly colour changed: the rows are drawn again.
    void coloursChanged();
    // An account was removed: the account menus are rebuilt on this.
    void accountsChanged();
    // The Welcome timer fired: the Welcome window is made and shown on this.
    void welcomeDue();

public Q_SLOTS:
    void CheckBox1Click();
    void CheckBox4Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void BitBtn1Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void DBGrid1DblClick();
    // "Submit": mails the black list files to the collection address.
    void Button4Click();
    // Shows the account table again with the count line (after the menus were rebuilt).
    void showAccounts(int count);
    void Timer1Timer();

private:
    QWidget *createOptionsTab();
    QWidget *createAutoModeTab();
    QWidget *createAccountsTab();
    QWidget *createColorsTab();
    QWidget *createBouncingTab();
    QWidget *createSubmittingTab();
    QWidget *createSmtpTab();
    void showSwatch(QFrame *shape, int colour);
    void chooseColour(QFrame *shape, int &setting);
    void updateNotices();
    void storePassword();
    void showPasswordPlace(SecretStore::Place place);
    void showListSizes();
    void selectCurrentAccount();

    Settings &m_settings;
    Prompts &m_prompts;
    StartWithSystem *m_startEntry = nullptr;
    StartCommand m_startCommand;
    PasswordStore m_passwordStore;
    AccountStore *m_store = nullptr;
    AddAccountDialog *m_addAccount = nullptr;
    EditAccountDialog *m_editAccount = nullptr;
    DeletionLogWindow *m_logWindow = nullptr;
    QWidget *m_archiveWindow = nullptr;
    ColourChooser m_chooser;
    ServerCommandRunner m_runner;
    QString m_listFolder;
    ListSaver m_listSaver;
    bool m_submitting = false;
    bool m_showing = false;
    bool m_filling = false;
};

} // namespace corvane
