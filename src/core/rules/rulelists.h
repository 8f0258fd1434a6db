#pragma once

#include "core/rules/miscrules.h"
#include "core/rules/rulelist.h"

#include <QDir>
#include <QString>

namespace corvane {

enum class ListKind { SubjectBlack, EmailBlack, Friendly, XandY };

// The four lists in the order in which they are loaded and saved.
inline constexpr ListKind kAllListKinds[] = {ListKind::SubjectBlack, ListKind::EmailBlack,
                                             ListKind::Friendly, ListKind::XandY};

QString listFileName(ListKind kind);
RuleList::Order listOrder(ListKind kind);
// The column headings: the caption's, then one per sub-item.
QStringList listColumns(ListKind kind);

// The user's four lists and the thirteen fixed rules, with their initial contents.
struct RuleLists {
    RuleLists();

    RuleList SubjectBlack{RuleList::Order::ByCaption}; // blsubj.dat
    RuleList EmailBlack{RuleList::Order::ByCaption};   // bleml.dat
    RuleList Friendly{RuleList::Order::Insertion};     // freml.dat
    RuleList XandY{RuleList::Order::Insertion};        // blsubxy.dat
    MiscRules Misc;

    RuleList &list(ListKind kind);
    const RuleList &list(ListKind kind) const;
};

// The subject black list as it stands before any file is read.
QList<RuleEntry> initialSubjectBlackList();

} // namespace corvane
