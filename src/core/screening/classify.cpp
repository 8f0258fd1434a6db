#include "core/screening/classify.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace corvane {

using namespace Qt::StringLiterals;

namespace {

using ClassMask = std::uint32_t;

constexpr char16_t foldUnit(char16_t u) {
    return (u >= u'A' && u <= u'Z') ? u + 32 : u;
}

// ----- The fixed rules and the spam score, shared by both classifiers ---------------------

// A word that occurs in text; the empty word occurs nowhere.
bool has(std::u16string_view text, std::u16string_view word) {
    return !word.empty() && text.find(word) != std::u16string_view::npos;
}

std::u16string_view view(const QString &s) {
    return {reinterpret_cast<const char16_t *>(s.utf16()), static_cast<size_t>(s.size())};
}

// Both texts already folded.
bool miscRulesMatch(const MiscRules &rules, std::u16string_view subject, std::u16string_view sender,
                    QStringView headerText) {
    const auto on = [&](int n) { return rules.ticked(n); };
    if (on(1) && has(subject, u"free"))
        return true;
    if (on(2) && has(subject, u"guarantee"))
        return true;
    if (on(3) && has(subject, u"credit") && has(subject, u"card"))
        return true;
    if (on(4)) {
        const std::optional<int> score = spamScore(headerText);
        if (score && *score >= 3)
            return true;
    }
    if (on(5) && has(subject, u"$$"))
        return true;
    if (on(6) && has(subject, u"!!!"))
        return true;
    if (on(7) && has(subject, u"    "))
        return true;
    if (on(8) && (has(subject, u"cash") || has(subject, u"income")))
        return true;
    if (on(9) && has(sender, u"market"))
        return true;
    if (on(10) && (has(subject, u"viagra") || has(subject, u"prozac") || has(subject, u"valium")))
        return true;
    if (on(11) && (has(sender, u"money") || has(sender, u"loan")))
        return true;
    if (on(12) && (has(subject, u"penis") || has(subject, u"erection")))
        return true;
    if (on(13) && has(subject, u"sucess") && has(subject, u"wealth"))
        return true;
    return false;
}

// ----- The fast classifier's automata ------------------------------------------------------

// Texts are matched as bytes: each folded UTF-16 code unit becomes one to three bytes in the
// form UTF-8 gives a code point of the same value (surrogates included). Lead and continuation
// bytes never coincide, so a word occurs in a text exactly when its bytes occur in the text's
// bytes, as with the code units themselves.
void encodeFolded(std::string &out, QStringView text) {
    out.resize(3 * static_cast<size_t>(text.size()));
    char *d = out.data();
    for (QChar qc : text) {
        const char16_t u = foldUnit(qc.unicode());
        if (u < 0x80) {
            *d++ = static_cast<char>(u);
        } else if (u < 0x800) {
            *d++ = static_cast<char>(0xC0 | (u >> 6));
            *d++ = static_cast<char>(0x80 | (u & 0x3F));
        } else {
            *d++ = static_cast<char>(0xE0 | (u >> 12));
            *d++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            *d++ = static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    out.resize(static_cast<size_t>(d - out.data()));
}

// Aho–Corasick automaton over bytes. Each pattern carries class bits; a class is found in a
// text when a pattern of that class occurs in it. Patterns may also carry a word id, and a
// scan can list the ids of every word that occurs.
class Automaton {
public:
    struct Pattern {
        std::string bytes;
        ClassMask classes = 0;
        std::int32_t word = -1;
    };
    static constexpr ClassMask kWordClass = 1u << 31;

private:
    struct Node;

public:
    void build(std::vector<Pattern> patterns) {
        std::erase_if(patterns, [](const Pattern &p) { return p.bytes.empty(); });
        std::sort(patterns.begin(), patterns.end(),
                  [](const Pattern &a, const Pattern &b) { return a.bytes < b.bytes; });

        // The trie, built from sorted patterns: a new child is always its parent's last.
        struct TrieNode {
            std::uint32_t firstChild = 0, lastChild = 0, nextSibling = 0;
            std::uint8_t byte = 0;
            ClassMask classes = 0;
            std::int32_t word = -1;
        };
        std::vector<TrieNode> trie(1);
        std::vector<std::uint32_t> path{0};
        const std::string *previous = nullptr;
        for (const Pattern &p : patterns) {
            size_t common = 0;
            if (previous) {
                const size_t limit = std::min(previous->size(), p.bytes.size());
                while (common < limit && (*previous)[common] == p.bytes[common])
                    ++common;
            }
            path.resize(common + 1);
            for (size_t i = common; i < p.bytes.size(); ++i) {
                const auto parent = path.back();
                const auto id = static_cast<std::uint32_t>(trie.size());
                trie.push_back({});
                trie[id].byte = static_cast<std::uint8_t>(p.bytes[i]);
                if (trie[parent].lastChild)
                    trie[trie[parent].lastChild].nextSibling = id;
                else
                    trie[parent].firstChild = id;
                trie[parent].lastChild = id;
                path.push_back(id);
            }
            TrieNode &end = trie[path.back()];
            end.classes |= p.classes;
            if (p.word >= 0) {
                end.word = p.word;
                end.classes |= kWordClass;
            }
            previous = &p.bytes;
        }

        // Lay the nodes out in breadth-first order with each node's edges side by side.
        const size_t n = trie.size();
        std::vector<std::uint32_t> order{0}, newId(n, 0);
        order.reserve(n);
        m_edgeStart.assign(n + 1, 0);
        m_edges.clear();
        m_edges.reserve(n);
        for (size_t i = 0; i < order.size(); ++i) {
            m_edgeStart[i] = static_cast<std::uint32_t>(m_edges.size());
            for (auto c = trie[order[i]].firstChild; c; c = trie[c].nextSibling) {
                newId[c] = static_cast<std::uint32_t>(order.size());
                order.push_back(c);
                m_edges.push_back({newId[c], trie[c].byte});
            }
        }
        m_edgeStart[n] = static_cast<std::uint32_t>(m_edges.size());
        m_nodes.assign(n, {});
        m_word.assign(n, -1);
        m_wordLink.assign(n, 0);
        for (size_t i = 0; i < n; ++i) {
            m_nodes[i].edges = m_edgeStart[i];
            m_nodes[i].edgeCount = static_cast<std::uint16_t>(m_edgeStart[i + 1] - m_edgeStart[i]);
            m_nodes[i].mask = trie[order[i]].classes;
            m_word[i] = trie[order[i]].word;
        }
        m_edgeStart.clear();
        m_edgeStart.shrink_to_fit();
        trie.clear();
        trie.shrink_to_fit();

        m_rootNext.fill(0);
        for (auto e = m_nodes[0].edges; e < m_nodes[0].edges + m_nodes[0].edgeCount; ++e)
            m_rootNext[m_edges[e].byte] = m_edges[e].target;

        // Failure links, breadth first: a node's failure target is shallower, so it is done.
        for (std::uint32_t node = 0; node < n; ++node) {
            const auto first = m_nodes[node].edges, last = first + m_nodes[node].edgeCount;
            for (auto e = first; e < last; ++e) {
                const auto child = m_edges[e].target;
                const auto b = m_edges[e].byte;
                std::uint32_t f = 0;
                if (node != 0) {
                    for (std::uint32_t s = m_nodes[node].fail;; s = m_nodes[s].fail) {
                        const auto t = s == 0 ? m_rootNext[b] : edgeChild(m_nodes[s], b);
                        if (t || s == 0) {
                            f = t;
                            break;
                        }
                    }
                }
                Node &c = m_nodes[child];
                c.fail = f;
                c.mask |= m_nodes[f].mask;
                m_wordLink[child] = m_word[f] >= 0 ? f : m_wordLink[f];
            }
        }
        for (Node &node : m_nodes) {
            if (node.edgeCount == 1) {
                node.singleByte = m_edges[node.edges].byte;
                node.edges = m_edges[node.edges].target;
            }
        }
    }

    // The classes found in text; when words is given, the ids of the words found are added
    // (a word may be listed more than once).
    ClassMask scan(const std::string &text, std::vector<std::int32_t> *words) const {
        if (m_nodes.empty())
            return 0;
        ClassMask found = 0;
        std::uint32_t s = 0;
        for (char ch : text) {
            const auto b = static_cast<std::uint8_t>(ch);
            for (;;) {
                if (s == 0) {
                    s = m_rootNext[b];
                    break;
                }
                if (const auto t = child(s, b)) {
                    s = t;
                    break;
                }
                s = m_nodes[s].fail;
            }
            const Node &node = m_nodes[s];
            found |= node.mask;
            if (words && (node.mask & kWordClass)) {
                for (auto u = m_word[s] >= 0 ? s : m_wordLink[s]; u; u = m_wordLink[u])
                    words->push_back(m_word[u]);
            }
        }
        return found;
    }

private:
    // A node with one child keeps it inline, so following or failing it reads the node alone;
    // most deep nodes are of that kind.
    std::uint32_t child(std::uint32_t node, std::uint8_t b) const {
        const Node &n = m_nodes[node];
        if (n.edgeCount == 1)
            return n.singleByte == b ? n.edges : 0;
        return edgeChild(n, b);
    }
    std::uint32_t edgeChild(const Node &n, std::uint8_t b) const {
        const auto first = n.edges, last = first + n.edgeCount;
        if (last - first <= 8) {
            for (auto e = first; e < last; ++e)
                if (m_edges[e].byte == b)
                    return m_edges[e].target;
            return 0;
        }
        const auto begin = m_edges.begin() + first, end = m_edges.begin() + last;
        const auto it = std::lower_bound(begin, end, b,
                                         [](const Edge &e, std::uint8_t v) { return e.byte < v; });
        return (it != end && it->byte == b) ? it->target : 0;
    }
    // What a scan step reads of a node, side by side.
    struct Node {
        // Its first edge in m_edges (sorted by byte), or with one edge the child itself.
        std::uint32_t edges = 0;
        std::uint32_t fail = 0; // the longest proper suffix that is a node
        ClassMask mask = 0;     // classes of the patterns ending here or at a suffix
        std::uint16_t edgeCount = 0;
        std::uint8_t singleByte = 0; // the byte of the one edge
    };
    std::vector<Node> m_nodes;
    // Word ids are read only where a word ends, so they live apart from the nodes, which
    // then take 16 bytes each.
    std::vector<std::int32_t> m_word;       // the word ending at a node, or -1
    std::vector<std::uint32_t> m_wordLink;  // the longest proper suffix where a word ends, or 0
    std::vector<std::uint32_t> m_edgeStart; // used while building only
    struct Edge {
        std::uint32_t target;
        std::uint8_t byte;
    };
    std::vector<Edge> m_edges;
    std::array<std::uint32_t, 256> m_rootNext{};
};

// The classes of the sender automaton: the two lists, and the words of the sender rules.
enum SenderClass : ClassMask {
    kFriendly = 1u << 0,
    kEmailBlack = 1u << 1,
    kMarket = 1u << 2,
    kMoney = 1u << 3,
    kLoan = 1u << 4,
};
// The classes of the subject automaton: the subject black list, and the words of the subject
// rules (the X-and-Y words carry word ids instead).
enum SubjectClass : ClassMask {
    kSubjectBlack = 1u << 0,
    kFree = 1u << 1,
    kGuarantee = 1u << 2,
    kCredit = 1u << 3,
    kCard = 1u << 4,
    kDollars = 1u << 5,
    kExclamations = 1u << 6,
    kBlanks = 1u << 7,
    kCash = 1u << 8,
    kIncome = 1u << 9,
    kViagra = 1u << 10,
    kProzac = 1u << 11,
    kValium = 1u << 12,
    kPenis = 1u << 13,
    kErection = 1u << 14,
    kSucess = 1u << 15,
    kWealth = 1u << 16,
};

struct RuleWord {
    const char *word;
    ClassMask cls;
};
constexpr RuleWord kSenderRuleWords[] = {{"market", kMarket}, {"money", kMoney}, {"loan", kLoan}};
constexpr RuleWord kSubjectRuleWords[] = {
    {"free", kFree},     {"guarantee", kGuarantee}, {"credit", kCredit}, {"card", kCard},
    {"$$", kDollars},    {"!!!", kExclamations},    {"    ", kBlanks},   {"cash", kCash},
    {"income", kIncome}, {"viagra", kViagra},       {"prozac", kProzac}, {"valium", kValium},
    {"penis", kPenis},   {"erection", kErection},   {"sucess", kSucess}, {"wealth", kWealth},
};

// The fixed rules decided from the classes found in the folded subject and sender.
bool rulesMatchFound(const MiscRules &rules, ClassMask subject, ClassMask sender,
                     QStringView headerText) {
    const auto on = [&](int n) { return rules.ticked(n); };
    const auto all = [](ClassMask found, ClassMask wanted) { return (found & wanted) == wanted; };
    if (on(1) && (subject & kFree))
        return true;
    if (on(2) && (subject & kGuarantee))
        return true;
    if (on(3) && all(subject, kCredit | kCard))
        return true;
    if (on(5) && (subject & kDollars))
        return true;
    if (on(6) && (subject & kExclamations))
        return true;
    if (on(7) && (subject & kBlanks))
        return true;
    if (on(8) && (subject & (kCash | kIncome)))
        return true;
    if (on(9) && (sender & kMarket))
        return true;
    if (on(10) && (subject & (kViagra | kProzac | kValium)))
        return true;
    if (on(11) && (sender & (kMoney | kLoan)))
        return true;
    if (on(12) && (subject & (kPenis | kErection)))
        return true;
    if (on(13) && all(subject, kSucess | kWealth))
        return true;
    // The score last: it is the only test that reads the header text.
    if (on(4)) {
        const std::optional<int> score = spamScore(headerText);
        if (score && *score >= 3)
            return true;
    }
    return false;
}

struct ListStamp {
    const RuleList *list = nullptr;
    quint64 revision = 0;
    bool matches(const RuleList &l) const { return list == &l && revision == l.revision(); }
    void take(const RuleList &l) {
        list = &l;
        revision = l.revision();
    }
};

} // namespace

QString foldAZ(QStringView text) {
    QString out = text.toString();
    for (QChar &c : out)
        c = QChar(foldUnit(c.unicode()));
    return out;
}

namespace {

constexpr std::u16string_view kScoreLabel = u"x-spam-score: ";
constexpr qsizetype kScoreLabelLength = static_cast<qsizetype>(kScoreLabel.size());

// Where the first score label begins, or -1.
qsizetype findScoreLabel(QStringView headerText) {
    // The label ends in a colon: find each colon quickly (a vectorised search) and compare the
    // folded text around it with the label.
    static constexpr qsizetype m = kScoreLabelLength;
    static constexpr qsizetype colon = m - 2;
    const char16_t *text = reinterpret_cast<const char16_t *>(headerText.utf16());
    const qsizetype n = headerText.size();
    for (qsizetype at = headerText.indexOf(u':', colon); at >= 0 && at + 2 <= n;
         at = headerText.indexOf(u':', at + 1)) {
        const qsizetype pos = at - colon;
        qsizetype i = 0;
        while (i < m && foldUnit(text[pos + i]) == kScoreLabel[i])
            ++i;
        if (i == m)
            return pos;
    }
    return -1;
}

} // namespace

QString spamScoreExcerpt(QStringView headerText) {
    const qsizetype found = findScoreLabel(headerText);
    if (found < 0)
        return {};
    // The label and the two characters after it, as far as the text goes.
    return headerText.mid(found, kScoreLabelLength + 2).toString();
}

std::optional<int> spamScore(QStringView headerText) {
    static constexpr qsizetype m = kScoreLabelLength;
    const char16_t *text = reinterpret_cast<const char16_t *>(headerText.utf16());
    const qsizetype n = headerText.size();
    const qsizetype found = findScoreLabel(headerText);
    if (found < 0 || found + m + 1 > n)
        return std::nullopt;
    const char16_t first = text[found + m];
    // A whole-number score: one digit and the end of the line or of the text.
    const char16_t second = found + m + 1 < n ? text[found + m + 1] : u'\n';
    const auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    if (second == u' ' || second == u'.' || second == u'\r' || second == u'\n') {
        if (!digit(first))
            return std::nullopt;
        return first - u'0';
    }
    // Two characters as a signed integer: "12", "-1", "+5" or " 7" (a leading blank is
    // skipped, as an integer reading does).
    if (!digit(second))
        return std::nullopt;
    if (digit(first))
        return (first - u'0') * 10 + (second - u'0');
    if (first == u'-')
        return -(second - u'0');
    if (first == u'+' || first == u' ')
        return second - u'0';
    return std::nullopt;
}

RowMark ClassifyMessageReference(const RuleLists &lists, const QString &subject,
                                 const QString &sender, const QString &headerText) {
    const QString s = foldAZ(subject), f = foldAZ(sender);
    const auto contains = [](const QString &text, const QString &word) {
        return !word.isEmpty() && text.contains(foldAZ(word));
    };
    bool friendly = false;
    for (const RuleEntry &e : lists.Friendly)
        if (contains(f, e.Caption))
            friendly = true;
    if (friendly)
        return RowMark::Friendly;

    RowMark result = RowMark::Plain;
    if (miscRulesMatch(lists.Misc, view(s), view(f), headerText))
        result = RowMark::Spam;
    if (result != RowMark::Plain)
        return result;
    for (const RuleEntry &e : lists.SubjectBlack)
        if (contains(s, e.Caption))
            result = RowMark::Spam;
    for (const RuleEntry &e : lists.EmailBlack)
        if (contains(f, e.Caption))
            result = RowMark::Spam;
    for (const RuleEntry &e : lists.XandY)
        if (contains(s, e.Caption) && !e.SubItems.isEmpty() && contains(s, e.SubItems.at(0)))
            result = RowMark::Spam;
    return result;
}

struct Classifier::Compiled {
    ListStamp friendly, emailBlack, subjectBlack, xandy;
    Automaton sender, subject;

    // X-and-Y entries as pairs of word ids (caption word, second word).
    std::unordered_set<std::uint64_t> pairs;
    std::vector<std::vector<std::int32_t>> secondsOf;

    // Scratch space reused between messages.
    std::string subjectBytes, senderBytes;
    std::vector<std::int32_t> words, distinct;
    std::vector<std::uint32_t> seenStamp;
    std::uint32_t stamp = 0;

    void buildSender(const RuleLists &lists) {
        std::vector<Automaton::Pattern> patterns;
        patterns.reserve(lists.Friendly.size() + lists.EmailBlack.size());
        for (const RuleEntry &e : lists.Friendly) {
            patterns.push_back({{}, kFriendly, -1});
            encodeFolded(patterns.back().bytes, e.Caption);
        }
        for (const RuleEntry &e : lists.EmailBlack) {
            patterns.push_back({{}, kEmailBlack, -1});
            encodeFolded(patterns.back().bytes, e.Caption);
        }
        for (const RuleWord &w : kSenderRuleWords)
            patterns.push_back({w.word, w.cls, -1});
        sender.build(std::move(patterns));
        friendly.take(lists.Friendly);
        emailBlack.take(lists.EmailBlack);
    }

    void buildSubject(const RuleLists &lists) {
        std::vector<Automaton::Pattern> patterns;
        patterns.reserve(lists.SubjectBlack.size() + 2 * lists.XandY.size());
        for (const RuleEntry &e : lists.SubjectBlack) {
            patterns.push_back({{}, kSubjectBlack, -1});
            encodeFolded(patterns.back().bytes, e.Caption);
        }
        for (const RuleWord &w : kSubjectRuleWords)
            patterns.push_back({w.word, w.cls, -1});
        std::unordered_map<std::string, std::int32_t> wordIds;
        pairs.clear();
        secondsOf.clear();
        std::string a, b;
        const auto idOf = [&](const std::string &w) {
            auto [it, added] = wordIds.try_emplace(w, static_cast<std::int32_t>(wordIds.size()));
            if (added) {
                patterns.push_back({w, 0, it->second});
                secondsOf.emplace_back();
            }
            return it->second;
        };
        for (const RuleEntry &e : lists.XandY) {
            if (e.SubItems.isEmpty())
                continue;
            encodeFolded(a, e.Caption);
            encodeFolded(b, e.SubItems.at(0));
            if (a.empty() || b.empty())
                continue;
            const auto ia = idOf(a), ib = idOf(b);
            if (pairs.insert(pairKey(ia, ib)).second)
                secondsOf[ia].push_back(ib);
        }
        subject.build(std::move(patterns));
        seenStamp.assign(secondsOf.size(), 0);
        stamp = 0;
        subjectBlack.take(lists.SubjectBlack);
        xandy.take(lists.XandY);
    }

    static std::uint64_t pairKey(std::int32_t a, std::int32_t b) {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
               static_cast<std::uint32_t>(b);
    }

    // Whether some X-and-Y entry has both its words among the words found in the subject.
    bool pairFound() {
        if (words.empty())
            return false;
        if (++stamp == 0) {
            std::fill(seenStamp.begin(), seenStamp.end(), 0);
            stamp = 1;
        }
        distinct.clear();
        for (auto w : words)
            if (seenStamp[w] != stamp) {
                seenStamp[w] = stamp;
                distinct.push_back(w);
            }
        // For each caption word found, try whichever is shorter: its second words, or the
        // words found.
        for (auto a : distinct) {
            const auto &seconds = secondsOf[a];
            if (seconds.size() <= distinct.size()) {
                for (auto b : seconds)
                    if (seenStamp[b] == stamp)
                        return true;
            } else {
                for (auto b : distinct)
                    if (pairs.contains(pairKey(a, b)))
                        return true;
            }
        }
        return false;
    }
};

Classifier::Classifier() : m_compiled(std::make_unique<Compiled>()) {}
Classifier::~Classifier() = default;

RowMark Classifier::ClassifyMessage(const RuleLists &lists, const QString &subject,
                                    const QString &sender, const QString &headerText) {
    Compiled &c = *m_compiled;
    if (!c.friendly.matches(lists.Friendly) || !c.emailBlack.matches(lists.EmailBlack))
        c.buildSender(lists);
    if (!c.subjectBlack.matches(lists.SubjectBlack) || !c.xandy.matches(lists.XandY))
        c.buildSubject(lists);

    // One pass over each text finds the list entries and the rule words it holds.
    encodeFolded(c.senderBytes, sender);
    const ClassMask senderFound = c.sender.scan(c.senderBytes, nullptr);
    if (senderFound & kFriendly)
        return RowMark::Friendly;
    if (senderFound & kEmailBlack)
        return RowMark::Spam;
    encodeFolded(c.subjectBytes, subject);
    c.words.clear();
    const ClassMask subjectFound = c.subject.scan(c.subjectBytes, &c.words);
    if ((subjectFound & kSubjectBlack) || c.pairFound())
        return RowMark::Spam;
    return rulesMatchFound(lists.Misc, subjectFound, senderFound, headerText) ? RowMark::Spam
                                                                              : RowMark::Plain;
}

} // namespace corvane
