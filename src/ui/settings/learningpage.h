#pragma once

#include "core/learning/learningstore.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace corvane {

class Prompts;
struct Settings;

// The Learning tab of the options window: whether the learned filter runs, its two cutoffs,
// the veto over the fixed rules, the body lines the scan fetches, what it has learned, training
// from mail files and forgetting everything. Like the other tabs, its controls change Settings
// at once.
class LearningPage final : public QWidget {
    Q_OBJECT
public:
    LearningPage(Settings &settings, Prompts &prompts, QWidget *parent = nullptr);

    // The learned filter the counts, the training and "Forget everything" work on; without one
    // those are disabled.
    void setLearning(LearningStore *store);
    // Shows the current values of Settings and the counts, without running the handlers.
    void showSettings();

    // What "Train from files…" asks for: mail files (mbox, .eml) or a folder (maildir, a
    // folder of saved mails).
    enum class Choice { Files, Folder };
    // Asks the user which files or folder to learn from; empty when cancelled. Replaced by the
    // tests.
    using PathChooser = std::function<QStringList(Choice, QWidget *parent)>;
    void setPathChooser(PathChooser chooser) { m_chooser = std::move(chooser); }

    // Learns the mail under paths as verdict with a progress dialog that can be cancelled,
    // then says what was learned, cancelled or skipped.
    void trainFrom(const QStringList &paths, LearnedVerdict verdict);

    QCheckBox *learningEnabled;
    QSpinBox *spamCutoff; // per cent
    QSpinBox *hamCutoff;  // per cent
    QCheckBox *vetoRules;
    QSpinBox *bodyLines;
    QLabel *learnedCounts;
    // "Train from files…": asks in a small dialog ("trainingChoice") what the mail is (spam or
    // not spam, nothing chosen beforehand) and whether it is in files or a folder, then for the
    // files or folder.
    QPushButton *trainButton;
    QPushButton *forgetButton;

private:
    void showCounts();
    void askWhatToTrain();
    void chooseAndTrain(Choice choice, LearnedVerdict verdict);
    void forgetEverything();

    Settings &m_settings;
    Prompts &m_prompts;
    LearningStore *m_store = nullptr;
    PathChooser m_chooser;
};

} // namespace corvane
