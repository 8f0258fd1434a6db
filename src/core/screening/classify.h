#pragma once

#include "core/rules/rulelists.h"
#include "core/screening/rowmark.h"

#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

namespace corvane {

// Matching folds only the letters A to Z to a to z and compares UTF-16 code units.
QString foldAZ(QStringView text);

// The spam score a server-side filter wrote into the header ("X-Spam-Score: " in any letter
// case, first occurrence): the two characters after the label read as an integer, or only the
// first when the second is a blank, a point or a line break, or when the text ends after it
// (a whole-number score). No value when the label is absent or the characters do not form an
// integer.
std::optional<int> spamScore(QStringView headerText);
// The few characters of a header's text that spamScore reads (empty when it finds no score
// line): spamScore gives the same result for them as for the whole text. A listed row keeps
// them so that it can be classified again without its header.
QString spamScoreExcerpt(QStringView headerText);

// The classification exactly as stated, walking every list entry for every message. It is the
// oracle the fast classifier is tested against.
RowMark ClassifyMessageReference(const RuleLists &lists, const QString &subject,
                                 const QString &sender, const QString &headerText);

// Why classification gave a message its mark.
struct RuleVerdict {
    enum class Source { None, FriendlyList, EmailBlackList, SubjectBlackList, XandYList, Rule };
    RowMark mark = RowMark::Plain;
    Source source = Source::None;
    int rule = 0; // Source::Rule: the number of the fixed rule (4 is the spam-score rule)
    // The sender is on the friendly list, but the trusted server did not authenticate it: the
    // verdict is that of the other lists and rules.
    bool friendlyNotAuthenticated = false;

    // "friendly list", "e-mail black list", "subject black list", "X-and-Y list", "rule 7";
    // empty for None; "friendly sender not authenticated" before the rest when the friendly
    // match did not count.
    QString reason() const;
    // The list's or rule's own reason, without the friendly note.
    QString sourceReason() const;
    friend bool operator==(const RuleVerdict &, const RuleVerdict &) = default;
};

// What the learner may do with a row (from the learning options).
struct LearningCut {
    double spamCutoff = 0.70; // a Plain row scored at or above this becomes Spam
    double hamCutoff = 0.10;  // a rule's hit on a row scored at or below this is overruled
    bool veto = true;         // whether a confident ham score overrules the fixed rules
};

// A row's mark and the reason shown with it.
struct RowVerdict {
    RowMark mark = RowMark::Plain;
    QString reason;
};

// The mark of a row from the verdict of the lists and rules and the learner's score (nothing
// when the row was not scored: learning off, or its header unread). The lists and rules decide
// first and the user's own lists are never overruled; a hit of a fixed rule (1 to 13, the
// spam-score rule among them) is overruled when the veto is on, the learner is confident (has
// learned enough of both kinds) and its score is at or below the ham cutoff: the row stays
// Plain with the reason "rule 7 overruled by learning (0.03)". A row that is still Plain
// becomes Spam when its score is at or above the spam cutoff ("learned 0.97"); a Plain row
// that was scored gives its score as its reason.
RowVerdict combineVerdicts(const RuleVerdict &rules, std::optional<double> learned, bool confident,
                           const LearningCut &cut);

// Decides a message's mark from its subject, sender text (display name and address) and the
// text of its header lines. Gives the same result as ClassifyMessageReference, but matches all
// entries of a list in one pass over the text: the lists are compiled into automata that are
// rebuilt when a list changes.
class Classifier {
public:
    Classifier();
    ~Classifier();
    Classifier(const Classifier &) = delete;
    Classifier &operator=(const Classifier &) = delete;

    RowMark ClassifyMessage(const RuleLists &lists, const QString &subject, const QString &sender,
                            const QString &headerText);
    // The same decision with what made it: the list that matched first (friendly, then the
    // e-mail black list, the subject black list, the X-and-Y list), else the lowest-numbered
    // ticked rule that matched. Without friendlyAuthentic a friendly-list match does not count
    // (the sender was not authenticated) and the verdict says so.
    RuleVerdict ClassifyWithReason(const RuleLists &lists, const QString &subject,
                                   const QString &sender, const QString &headerText,
                                   bool friendlyAuthentic = true);

private:
    struct Compiled;
    std::unique_ptr<Compiled> m_compiled;
};

} // namespace corvane
