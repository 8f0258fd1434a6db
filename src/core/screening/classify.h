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

private:
    struct Compiled;
    std::unique_ptr<Compiled> m_compiled;
};

} // namespace corvane
