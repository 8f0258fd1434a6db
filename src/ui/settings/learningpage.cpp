#include "ui/settings/learningpage.h"

#include "core/errors.h"
#include "core/learning/filetraining.h"
#include "core/settings/settings.h"
#include "ui/shell/prompts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

QStringList choosePaths(LearningPage::Choice choice, QWidget *parent) {
    if (choice == LearningPage::Choice::Folder) {
        const QString folder =
            QFileDialog::getExistingDirectory(parent, u"Train from a folder of mail"_s);
        return folder.isEmpty() ? QStringList() : QStringList{folder};
    }
    return QFileDialog::getOpenFileNames(parent, u"Train from mail files"_s, {},
                                         u"Mail files (*.eml *.mbox *.mbx *.txt);;All files (*)"_s);
}

QString kindText(LearnedVerdict verdict) {
    return verdict == LearnedVerdict::Spam ? u"spam"_s : u"not spam"_s;
}

} // namespace

LearningPage::LearningPage(Settings &settings, Prompts &prompts, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_prompts(prompts), m_chooser(choosePaths) {
    setObjectName(u"learningPage"_s);

    learningEnabled = new QCheckBox(u"Learn from my mail and score each message"_s, this);
    learningEnabled->setObjectName(u"learningEnabled"_s);
    spamCutoff = new QSpinBox(this);
    spamCutoff->setObjectName(u"spamCutoff"_s);
    spamCutoff->setRange(51, 100);
    spamCutoff->setSuffix(u" %"_s);
    hamCutoff = new QSpinBox(this);
    hamCutoff->setObjectName(u"hamCutoff"_s);
    hamCutoff->setRange(0, 49);
    hamCutoff->setSuffix(u" %"_s);
    vetoRules = new QCheckBox(u"A message the learner is sure is not spam is not marked by the "
                              u"fixed rules"_s,
                              this);
    vetoRules->setObjectName(u"vetoRules"_s);
    bodyLines = new QSpinBox(this);
    bodyLines->setObjectName(u"bodyLines"_s);
    bodyLines->setRange(0, Settings::MaxBodyLines);
    learnedCounts = new QLabel(this);
    learnedCounts->setObjectName(u"learnedCounts"_s);
    learnedCounts->setWordWrap(true);

    trainButton = new QPushButton(u"Train from files…"_s, this);
    trainButton->setObjectName(u"trainButton"_s);
    forgetButton = new QPushButton(u"Forget everything…"_s, this);
    forgetButton->setObjectName(u"forgetButton"_s);

    auto *form = new QFormLayout;
    form->addRow(learningEnabled);
    form->addRow(u"Mark as spam at a score of at least"_s, spamCutoff);
    form->addRow(u"Sure it is not spam at a score of at most"_s, hamCutoff);
    form->addRow(vetoRules);
    form->addRow(u"Body lines read with each header"_s, bodyLines);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(trainButton);
    buttons->addStretch();
    buttons->addWidget(forgetButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(learnedCounts);
    layout->addLayout(buttons);
    layout->addStretch();

    connect(learningEnabled, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.learning = on;
        showCounts();
    });
    connect(spamCutoff, &QSpinBox::valueChanged, this,
            [this](int value) { m_settings.learnspam = value; });
    connect(hamCutoff, &QSpinBox::valueChanged, this,
            [this](int value) { m_settings.learnham = value; });
    connect(vetoRules, &QCheckBox::toggled, this, [this](bool on) { m_settings.learnveto = on; });
    connect(bodyLines, &QSpinBox::valueChanged, this,
            [this](int value) { m_settings.bodylines = value; });
    connect(trainButton, &QPushButton::clicked, this, &LearningPage::askWhatToTrain);
    connect(forgetButton, &QPushButton::clicked, this, &LearningPage::forgetEverything);
    showSettings();
}

void LearningPage::setLearning(LearningStore *store) {
    m_store = store;
    showCounts();
}

void LearningPage::showSettings() {
    const QSignalBlocker b1(learningEnabled), b2(spamCutoff), b3(hamCutoff), b4(vetoRules),
        b5(bodyLines);
    learningEnabled->setChecked(m_settings.learning);
    spamCutoff->setValue(m_settings.learnspam);
    hamCutoff->setValue(m_settings.learnham);
    vetoRules->setChecked(m_settings.learnveto);
    bodyLines->setValue(m_settings.bodylines);
    showCounts();
}

void LearningPage::showCounts() {
    const bool usable = m_store != nullptr;
    trainButton->setEnabled(usable);
    forgetButton->setEnabled(usable);
    if (!m_store) {
        learnedCounts->setText(u"Nothing learned yet."_s);
        return;
    }
    if (!m_store->isOpen()) {
        learnedCounts->setText(u"The learning file %1 is not open; it is opened when it is "
                               u"trained or a mailbox is checked with learning on."_s.arg(
                                   QDir::toNativeSeparators(m_store->path())));
        return;
    }
    learnedCounts->setText(
        u"Learned: %1 spam, %2 not spam (%3 tokens). The learner overrules the fixed rules "
        u"only after %4 of each."_s.arg(m_store->spamMessages())
            .arg(m_store->hamMessages())
            .arg(m_store->tokenCount())
            .arg(LearningStore::ConfidentMessages));
}

void LearningPage::askWhatToTrain() {
    if (!m_store)
        return;
    auto *dialog = new QDialog(this);
    dialog->setObjectName(u"trainingChoice"_s);
    dialog->setWindowTitle(u"Train from files"_s);
    // Neither kind is chosen beforehand: mail learned as the wrong kind teaches the opposite of
    // what the user meant, so the choice is always made on purpose.
    auto *spam = new QRadioButton(u"&Spam (for example a junk mail folder)"_s, dialog);
    spam->setObjectName(u"trainAsSpam"_s);
    auto *ham = new QRadioButton(u"&Not spam (mail you wanted)"_s, dialog);
    ham->setObjectName(u"trainAsHam"_s);
    auto *kind = new QButtonGroup(dialog);
    kind->addButton(spam);
    kind->addButton(ham);
    auto *files = new QRadioButton(u"Mail &files (mbox, .eml)"_s, dialog);
    files->setObjectName(u"trainFromFiles"_s);
    files->setChecked(true);
    auto *folder = new QRadioButton(u"A f&older of mail (maildir, saved mails)"_s, dialog);
    folder->setObjectName(u"trainFromFolder"_s);
    auto *source = new QButtonGroup(dialog);
    source->addButton(files);
    source->addButton(folder);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QPushButton *choose = box->button(QDialogButtonBox::Ok);
    choose->setText(u"Choose…"_s);
    choose->setEnabled(false);
    connect(kind, &QButtonGroup::buttonToggled, choose, [choose] { choose->setEnabled(true); });
    connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(u"The mail to learn from is:"_s, dialog));
    layout->addWidget(spam);
    layout->addWidget(ham);
    layout->addWidget(new QLabel(u"It is in:"_s, dialog));
    layout->addWidget(files);
    layout->addWidget(folder);
    layout->addWidget(box);
    // The training runs (with its progress dialog) once the choice is hidden; the choice goes
    // only afterwards, as its own signal must not outlive it.
    connect(dialog, &QDialog::accepted, this, [this, dialog, spam, folder] {
        chooseAndTrain(folder->isChecked() ? Choice::Folder : Choice::Files,
                       spam->isChecked() ? LearnedVerdict::Spam : LearnedVerdict::Ham);
        dialog->deleteLater();
    });
    connect(dialog, &QDialog::rejected, dialog, &QObject::deleteLater);
    dialog->open();
}

void LearningPage::chooseAndTrain(Choice choice, LearnedVerdict verdict) {
    const QStringList paths = m_chooser ? m_chooser(choice, this) : QStringList();
    if (!paths.isEmpty())
        trainFrom(paths, verdict);
}

void LearningPage::trainFrom(const QStringList &paths, LearnedVerdict verdict) {
    if (!m_store)
        return;
    QProgressDialog progress(u"Learning the mail as %1…"_s.arg(kindText(verdict)), u"Cancel"_s, 0,
                             0, this);
    progress.setObjectName(u"trainingProgress"_s);
    progress.setWindowTitle(u"Train from files"_s);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.show();
    QStringList skipped;
    FileTraining::Result result;
    try {
        m_store->ensureOpen();
        FileTraining training(*m_store, m_settings.bodylines);
        result = training.learn(
            paths, verdict,
            [&progress](int done, int total) {
                progress.setMaximum(total);
                progress.setValue(done);
                QCoreApplication::processEvents();
                return !progress.wasCanceled();
            },
            [&skipped](const QString &path, const QString &reason) {
                skipped << u"%1: %2"_s.arg(QDir::toNativeSeparators(path), reason);
            });
    } catch (const Error &e) {
        progress.close();
        showCounts();
        m_prompts.error(this, e.message());
        return;
    }
    progress.close();
    showCounts();
    QString text = u"%1 messages of %2 files learned as %3 (%4 new, %5 corrected, %6 known "
                   u"already)."_s.arg(result.messages)
                       .arg(result.files)
                       .arg(kindText(verdict))
                       .arg(result.trained.learned)
                       .arg(result.trained.corrected)
                       .arg(result.trained.unchanged);
    if (result.cancelled)
        text.prepend(u"Cancelled; what was learned before stays learned. "_s);
    if (!skipped.isEmpty()) {
        constexpr qsizetype Shown = 10;
        text += u"\n\n%1 files were not mail and were skipped:\n%2"_s.arg(skipped.size())
                    .arg(skipped.first(qMin(Shown, skipped.size())).join(u'\n'));
        if (skipped.size() > Shown)
            text += u"\n…"_s;
    }
    m_prompts.information(this, text);
}

void LearningPage::forgetEverything() {
    if (!m_store)
        return;
    if (!m_prompts.askYesNo(this, u"Forget everything the learner has learned (%1 spam, %2 not "
                                  u"spam)? This cannot be undone."_s.arg(m_store->spamMessages())
                                      .arg(m_store->hamMessages())))
        return;
    try {
        m_store->forget();
    } catch (const Error &e) {
        m_prompts.error(this, e.message());
    }
    showCounts();
}

} // namespace corvane
