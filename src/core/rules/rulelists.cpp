#include "core/rules/rulelists.h"

namespace corvane {

using namespace Qt::StringLiterals;

QString listFileName(ListKind kind) {
    switch (kind) {
    case ListKind::SubjectBlack:
        return u"blsubj.dat"_s;
    case ListKind::EmailBlack:
        return u"bleml.dat"_s;
    case ListKind::Friendly:
        return u"freml.dat"_s;
    case ListKind::XandY:
        break;
    }
    return u"blsubxy.dat"_s;
}

RuleList::Order listOrder(ListKind kind) {
    return (kind == ListKind::SubjectBlack || kind == ListKind::EmailBlack)
               ? RuleList::Order::ByCaption
               : RuleList::Order::Insertion;
}

QStringList listColumns(ListKind kind) {
    switch (kind) {
    case ListKind::SubjectBlack:
        return {u"Subject is or contains"_s, u"Description"_s};
    case ListKind::EmailBlack:
        return {u"Email address or domain is"_s, u"Description"_s};
    case ListKind::Friendly:
        return {u"Email or domain is"_s, u"Description"_s};
    case ListKind::XandY:
        break;
    }
    return {u"Contains this"_s, u"and this"_s, u"Description"_s};
}

QList<RuleEntry> initialSubjectBlackList() {
    const QString virus = u"Virus"_s;
    const QString bounced = u"Bounced E-mail"_s;
    return {
        {u"failure notice"_s, {bounced}},     {u"Re: Approved"_s, {virus}},
        {u"Re: Details"_s, {virus}},          {u"Re: Re: My details"_s, {virus}},
        {u"Re: Re: My details"_s, {virus}},   {u"Re: Thank you!"_s, {virus}},
        {u"Re: That movie"_s, {virus}},       {u"Re: Wicked screensaver"_s, {virus}},
        {u"Re: Your application"_s, {virus}}, {u"Thank you!"_s, {virus}},
        {u"Undeliverable Mail"_s, {bounced}}, {u"Undelivered Mail"_s, {bounced}},
        {u"Your details"_s, {virus}},
    };
}

RuleLists::RuleLists() {
    for (RuleEntry &e : initialSubjectBlackList())
        SubjectBlack.add(std::move(e));
}

RuleList &RuleLists::list(ListKind kind) {
    return const_cast<RuleList &>(std::as_const(*this).list(kind));
}

const RuleList &RuleLists::list(ListKind kind) const {
    switch (kind) {
    case ListKind::SubjectBlack:
        return SubjectBlack;
    case ListKind::EmailBlack:
        return EmailBlack;
    case ListKind::Friendly:
        return Friendly;
    case ListKind::XandY:
        break;
    }
    return XandY;
}

} // namespace corvane
