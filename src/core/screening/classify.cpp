#include "core/screening/classify.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

// A scan step is a few instructions run for every byte of a text: the compiler is asked to
// inline it even where it judges the function too large (it then runs at two thirds the speed).
#if defined(__GNUC__) || defined(__clang__)
#define CORVANE_SCAN_STEP __attribute__((always_inline))
#else
#define CORVANE_SCAN_STEP
#endif

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
// Writes the bytes of text to out, which has room for three per code unit; returns how many.
size_t encodeFolded(char *out, QStringView text) {
    char *d = out;
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
    return static_cast<size_t>(d - out);
}

void encodeFolded(std::string &out, QStringView text) {
    out.resize(3 * static_cast<size_t>(text.size()));
    out.resize(encodeFolded(out.data(), text));
}

// The large arrays of the automata and of their building are mapped from the system directly.
// Pages reserved but never written take no memory, so an array is reserved once at the most it
// may need and never copied while it grows; and the scratch arrays of a build go back to the
// system when it ends instead of staying in the allocator's heap. Arrays of 4 MiB and more go
// on huge pages where the system allows it: the automata are read at random while a text is
// scanned, and one translation entry then covers 2 MiB instead of 4 KiB, so a scan step that
// misses the caches rarely misses the translation too.
template <typename T> struct MappedAllocator {
    using value_type = T;
    static constexpr size_t kMapped = size_t(256) << 10;
    static constexpr size_t kHugePage = size_t(2) << 20;
    MappedAllocator() = default;
    template <typename U> MappedAllocator(const MappedAllocator<U> &) {}
    static bool mapped(size_t n) { return n * sizeof(T) >= kMapped; }
    static size_t roundUp(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }
    static bool huge(size_t bytes) { return bytes >= 2 * kHugePage; }
    static size_t mappedBytes(size_t n) {
        const size_t bytes = n * sizeof(T);
        return huge(bytes) ? roundUp(bytes, kHugePage) : roundUp(bytes, 4096);
    }
    T *allocate(size_t n) {
#ifdef __linux__
        if (mapped(n)) {
            if (n > std::numeric_limits<size_t>::max() / sizeof(T) / 2)
                throw std::bad_alloc();
            const size_t bytes = mappedBytes(n);
            // A huge page must start on a huge page boundary: map one more and cut off what
            // lies before the boundary and after the array.
            const size_t extra = huge(bytes) ? kHugePage : 0;
            void *raw = mmap(nullptr, bytes + extra, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (raw == MAP_FAILED)
                throw std::bad_alloc();
            if (!extra)
                return static_cast<T *>(raw);
            const auto start = reinterpret_cast<std::uintptr_t>(raw);
            const std::uintptr_t aligned = roundUp(start, kHugePage);
            if (aligned > start)
                munmap(raw, aligned - start);
            if (start + extra > aligned)
                munmap(reinterpret_cast<void *>(aligned + bytes), start + extra - aligned);
            madvise(reinterpret_cast<void *>(aligned), bytes, MADV_HUGEPAGE);
            return reinterpret_cast<T *>(aligned);
        }
#endif
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T *p, size_t n) {
#ifdef __linux__
        if (mapped(n)) {
            munmap(p, mappedBytes(n));
            return;
        }
#endif
        std::allocator<T>().deallocate(p, n);
    }
    friend bool operator==(const MappedAllocator &, const MappedAllocator &) {
        return true;
    }
};
template <typename T> using BigVector = std::vector<T, MappedAllocator<T>>;

// Aho–Corasick automaton over bytes. Each pattern carries class bits; a class is found in a
// text when a pattern of that class occurs in it. Patterns may also carry a word id, and a
// scan can list the ids of every word that occurs.
//
// The nodes are numbered breadth first and, within a depth, in the order of their texts, so
// the children of a node are consecutive nodes: a node keeps its first child and their number,
// and the bytes that lead to the children lie side by side in a byte array. That numbering is
// also the order in which the sorted patterns reach each depth, so the automaton is built level
// by level straight from the sorted patterns, without a separate trie.
class Automaton {
public:
    struct Pattern {
        std::uint32_t offset = 0; // in the byte pool given to build()
        std::uint32_t length = 0;
        ClassMask classes = 0;
        std::int32_t word = -1;
    };
    // Set where a word ends at the node or at one of its suffixes.
    static constexpr ClassMask kWordClass = 1u << 31;
    // Set where a pattern's rest must be compared (see kTailDepth).
    static constexpr ClassMask kTailClass = 1u << 30;
    // Set where a word ends at the node itself; the only bit a node does not pass on to the
    // nodes it is a suffix of. The two bits above pass on, so the nodes that hold words (or
    // rests) are found by following failure links as long as the bit is set: no node needs a
    // link of its own to the next one.
    static constexpr ClassMask kOwnWord = 1u << 29;
    // Below this depth, a node that at most kMaxTails patterns pass through keeps their rests
    // as text instead of nodes: most patterns are unique after a few bytes, and this keeps the
    // automaton several times smaller (faster to build, and more of it in the caches) while a
    // text rarely holds a prefix that deep without the pattern.
    static constexpr std::uint32_t kTailDepth = 6;
    static constexpr size_t kMaxTails = 4;

    void build(std::string_view pool, BigVector<Pattern> patterns) {
        std::erase_if(patterns, [](const Pattern &p) { return p.length == 0; });
        const auto text = [&pool](const Pattern &p) {
            return std::string_view(pool.data() + p.offset, p.length);
        };
        std::sort(patterns.begin(), patterns.end(),
                  [&](const Pattern &a, const Pattern &b) { return text(a) < text(b); });
        const size_t count = patterns.size();
        // The common prefix of each pattern with the one before it.
        BigVector<std::uint32_t> common(count, 0);
        size_t total = 1;
        for (size_t k = 0; k < count; ++k) {
            total += patterns[k].length;
            if (k == 0)
                continue;
            const std::string_view a = text(patterns[k - 1]), b = text(patterns[k]);
            const size_t limit = std::min(a.size(), b.size());
            size_t c = 0;
            while (c < limit && a[c] == b[c])
                ++c;
            common[k] = static_cast<std::uint32_t>(c);
        }

        // Each array at the most it may take (no more nodes than pattern bytes, no more rests
        // than patterns): untouched pages cost nothing, and the arrays never move.
        m_nodes = {};
        m_nodes.reserve(total);
        m_byte = {};
        m_byte.reserve(total);
        m_nodes.push_back({});
        m_byte.push_back(0);
        m_nodeWords = {};
        m_nodeWords.reserve(count);
        m_tails = {};
        m_tails.reserve(count);
        m_tailBytes = {};
        m_tailBytes.reserve(total);
        // The node each pattern has reached, depth by depth; the patterns still longer.
        BigVector<std::uint32_t> at(count, 0);
        BigVector<std::uint32_t> active(count), next;
        next.reserve(count);
        for (size_t k = 0; k < count; ++k)
            active[k] = static_cast<std::uint32_t>(k);
        for (std::uint32_t depth = 1; !active.empty(); ++depth) {
            next.clear();
            for (size_t first = 0; first < active.size();) {
                // The patterns that share the prefix of this depth: one node.
                size_t end = first + 1;
                while (end < active.size() && active[end] == active[end - 1] + 1 &&
                       common[active[end]] >= depth)
                    ++end;
                const std::uint32_t k0 = active[first];
                const auto id = static_cast<std::uint32_t>(m_nodes.size());
                Node &parent = m_nodes[at[k0]];
                if (parent.childCount == 0)
                    parent.firstChild = id;
                ++parent.childCount;
                m_nodes.push_back({});
                m_byte.push_back(static_cast<std::uint8_t>(pool[patterns[k0].offset + depth - 1]));
                size_t longer = 0;
                for (size_t i = first; i < end; ++i)
                    longer += patterns[active[i]].length > depth;
                // Deep enough and shared by few patterns: the rest of each is compared as a
                // whole where the prefix is found, instead of taking a node per byte.
                const bool cut = depth >= kTailDepth && longer > 0 && longer <= kMaxTails;
                if (cut) {
                    m_nodes[id].firstChild = static_cast<std::uint32_t>(m_tails.size());
                    m_nodes[id].extra = static_cast<std::uint16_t>(longer);
                    m_nodes[id].mask |= kTailClass;
                }
                for (size_t i = first; i < end; ++i) {
                    const std::uint32_t k = active[i];
                    const Pattern &p = patterns[k];
                    at[k] = id;
                    if (p.length == depth) {
                        m_nodes[id].mask |= p.classes;
                        if (p.word >= 0) {
                            // Nodes are made in the order of their numbers, so the
                            // pairs stay sorted.
                            m_nodeWords.push_back({id, p.word});
                            m_nodes[id].mask |= kWordClass | kOwnWord;
                        }
                    } else if (cut) {
                        m_tails.push_back({static_cast<std::uint32_t>(m_tailBytes.size()),
                                           p.length - depth, p.classes, p.word});
                        m_tailBytes.insert(m_tailBytes.end(), pool.begin() + p.offset + depth,
                                           pool.begin() + p.offset + p.length);
                    } else {
                        next.push_back(k);
                    }
                }
                first = end;
            }
            active.swap(next);
        }
        common = {};
        at = {};
        active = {};
        next = {};

        const size_t n = m_nodes.size();
        m_rootNext.fill(0);
        for (std::uint32_t c = m_nodes[0].firstChild, e = c + m_nodes[0].childCount; c < e; ++c)
            m_rootNext[m_byte[c]] = c;
        // A node with many children (the shallow levels, mostly) finds a child in a table of
        // the 256 bytes instead of searching the children's bytes.
        m_tables = {};
        size_t tables = 0;
        for (std::uint32_t id = 1; id < n; ++id)
            tables += hasTableSize(m_nodes[id].childCount);
        tables = std::min<size_t>(tables, kNoTable);
        m_tables.assign(tables * 256, 0);
        size_t table = 0;
        for (std::uint32_t id = 1; id < n; ++id) {
            Node &node = m_nodes[id];
            if (node.childCount == 1) {
                node.extra = m_byte[node.firstChild];
            } else if (hasTableSize(node.childCount) && table < tables) {
                node.extra = static_cast<std::uint16_t>(table);
                std::uint8_t *t = m_tables.data() + table * 256;
                for (std::uint32_t c = 0; c < node.childCount; ++c)
                    t[m_byte[node.firstChild + c]] = static_cast<std::uint8_t>(c + 1);
                ++table;
            } else if (node.childCount > 1) {
                node.extra = kNoTable;
            }
        }

        // Failure links, breadth first: a node's failure target is shallower, so it is done.
        for (std::uint32_t node = 0; node < n; ++node) {
            const std::uint32_t first = m_nodes[node].firstChild;
            const std::uint32_t last = first + m_nodes[node].childCount;
            for (std::uint32_t child = first; child < last; ++child) {
                const std::uint8_t b = m_byte[child];
                std::uint32_t f = 0;
                if (node != 0) {
                    for (std::uint32_t s = m_nodes[node].fail;; s = m_nodes[s].fail) {
                        const auto t = s == 0 ? m_rootNext[b] : childOf(s, b);
                        if (t || s == 0) {
                            f = t;
                            break;
                        }
                    }
                }
                Node &c = m_nodes[child];
                c.fail = f;
                c.mask |= m_nodes[f].mask & ~kOwnWord;
            }
        }
    }

    bool empty() const { return m_nodes.size() <= 1; }

    // One step of a scan: the state after byte b. Its mask says what was found.
    CORVANE_SCAN_STEP std::uint32_t step(std::uint32_t s, std::uint8_t b) const {
        for (;;) {
            if (s == 0)
                return m_rootNext[b];
            if (const auto t = childOf(s, b))
                return t;
            s = m_nodes[s].fail;
        }
    }
    ClassMask mask(std::uint32_t s) const { return m_nodes[s].mask; }
    // The classes of the patterns whose rest, compared from text[next] on, completes a prefix
    // ending at state s (its mask holds kTailClass); the ids of such words go to words.
    ClassMask tailsFound(std::uint32_t s, std::string_view text, size_t next,
                         std::vector<std::int32_t> &words) const {
        ClassMask found = 0;
        const size_t left = text.size() - next;
        for (auto u = s; u && (m_nodes[u].mask & kTailClass); u = m_nodes[u].fail) {
            if (!ownTails(u))
                continue;
            const Node &node = m_nodes[u];
            for (auto t = node.firstChild, e = t + node.extra; t < e; ++t) {
                const Tail &tail = m_tails[t];
                if (tail.length <= left &&
                    std::memcmp(text.data() + next, m_tailBytes.data() + tail.offset,
                                tail.length) == 0) {
                    found |= tail.classes;
                    if (tail.word >= 0)
                        words.push_back(tail.word);
                }
            }
        }
        return found;
    }
    // Adds the ids of the words that end at state s (its mask holds kWordClass).
    void addWords(std::uint32_t s, std::vector<std::int32_t> &words) const {
        for (auto u = s; u && (m_nodes[u].mask & kWordClass); u = m_nodes[u].fail) {
            if (!(m_nodes[u].mask & kOwnWord))
                continue;
            auto it = std::lower_bound(m_nodeWords.begin(), m_nodeWords.end(), u,
                                       [](const std::pair<std::uint32_t, std::int32_t> &w,
                                          std::uint32_t v) { return w.first < v; });
            for (; it != m_nodeWords.end() && it->first == u; ++it)
                words.push_back(it->second);
        }
    }

private:
    // Children from this many on are found through a table; the table's entries count them
    // from 1, so no more than 255.
    static constexpr std::uint16_t kTableChildren = 20;
    static constexpr std::uint16_t kNoTable = 0xFFFF;
    static bool hasTableSize(std::uint16_t children) {
        return children >= kTableChildren && children <= 255;
    }
    // A node that keeps pattern rests: no children, firstChild the first of its tails and
    // extra their number.
    bool ownTails(std::uint32_t node) const {
        return m_nodes[node].childCount == 0 && m_nodes[node].extra > 0;
    }
    CORVANE_SCAN_STEP std::uint32_t childOf(std::uint32_t node, std::uint8_t b) const {
        const Node &n = m_nodes[node];
        if (n.childCount == 1)
            return n.extra == b ? n.firstChild : 0;
        if (n.childCount == 0)
            return 0;
        if (n.extra != kNoTable) {
            const std::uint8_t c = m_tables[static_cast<size_t>(n.extra) * 256 + b];
            return c ? n.firstChild + c - 1 : 0;
        }
        // A few children are compared one by one, more through the library's vectorised search
        // (a call that costs more than a handful of comparisons).
        const std::uint8_t *bytes = m_byte.data() + n.firstChild;
        if (n.childCount <= 8) {
            for (std::uint32_t c = 0; c < n.childCount; ++c)
                if (bytes[c] == b)
                    return n.firstChild + c;
            return 0;
        }
        const void *found = std::memchr(bytes, b, n.childCount);
        return found ? n.firstChild + static_cast<std::uint32_t>(
                                          static_cast<const std::uint8_t *>(found) - bytes)
                     : 0;
    }
    // What a scan step reads of a node, side by side: 16 bytes.
    struct Node {
        std::uint32_t firstChild = 0;
        std::uint32_t fail = 0; // the longest proper suffix that is a node
        ClassMask mask = 0;     // classes of the patterns ending here or at a suffix
        std::uint16_t childCount = 0;
        // With one child the byte that leads to it; with more, the table of the children (or
        // kNoTable); with none, how many rests the node keeps.
        std::uint16_t extra = 0;
    };
    BigVector<std::uint8_t> m_tables; // 256 entries a table: a child's number from 1, or 0
    BigVector<Node> m_nodes;
    BigVector<std::uint8_t> m_byte; // the byte that leads to each node
    // The nodes where a word ends and its id, sorted by node: read only where a word is found.
    BigVector<std::pair<std::uint32_t, std::int32_t>> m_nodeWords;
    // The rests of the patterns cut at tail nodes.
    struct Tail {
        std::uint32_t offset; // in m_tailBytes
        std::uint32_t length;
        ClassMask classes;
        std::int32_t word;
    };
    BigVector<Tail> m_tails;
    BigVector<char> m_tailBytes;
    std::array<std::uint32_t, 256> m_rootNext{};
};

// Scans two texts through two automata side by side: the two walks do not depend on each
// other, so the processor waits for the memory of both at once. Returns the classes found in
// each; the ids of the words found are added to words (only the second automaton has words).
std::pair<ClassMask, ClassMask> scanPair(const Automaton &a, std::string_view textA,
                                         const Automaton &b, std::string_view textB,
                                         std::vector<std::int32_t> &words) {
    ClassMask foundA = 0, foundB = 0;
    std::uint32_t sa = 0, sb = 0;
    const size_t both = a.empty() || b.empty() ? 0 : std::min(textA.size(), textB.size());
    const auto stepA = [&](size_t i) CORVANE_SCAN_STEP {
        sa = a.step(sa, static_cast<std::uint8_t>(textA[i]));
        const ClassMask m = a.mask(sa);
        foundA |= m;
        if (m & Automaton::kTailClass)
            foundA |= a.tailsFound(sa, textA, i + 1, words);
    };
    const auto stepB = [&](size_t i) CORVANE_SCAN_STEP {
        sb = b.step(sb, static_cast<std::uint8_t>(textB[i]));
        const ClassMask m = b.mask(sb);
        foundB |= m;
        if (m & Automaton::kWordClass)
            b.addWords(sb, words);
        if (m & Automaton::kTailClass)
            foundB |= b.tailsFound(sb, textB, i + 1, words);
    };
    size_t i = 0;
    for (; i < both; ++i) {
        stepA(i);
        stepB(i);
    }
    if (!a.empty())
        for (size_t j = i; j < textA.size(); ++j)
            stepA(j);
    if (!b.empty())
        for (size_t j = i; j < textB.size(); ++j)
            stepB(j);
    return {foundA, foundB};
}

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
int ruleFound(const MiscRules &rules, ClassMask subject, ClassMask sender, QStringView headerText) {
    const auto on = [&](int n) { return rules.ticked(n); };
    const auto all = [](ClassMask found, ClassMask wanted) { return (found & wanted) == wanted; };
    if (on(1) && (subject & kFree))
        return 1;
    if (on(2) && (subject & kGuarantee))
        return 2;
    if (on(3) && all(subject, kCredit | kCard))
        return 3;
    if (on(5) && (subject & kDollars))
        return 5;
    if (on(6) && (subject & kExclamations))
        return 6;
    if (on(7) && (subject & kBlanks))
        return 7;
    if (on(8) && (subject & (kCash | kIncome)))
        return 8;
    if (on(9) && (sender & kMarket))
        return 9;
    if (on(10) && (subject & (kViagra | kProzac | kValium)))
        return 10;
    if (on(11) && (sender & (kMoney | kLoan)))
        return 11;
    if (on(12) && (subject & (kPenis | kErection)))
        return 12;
    if (on(13) && all(subject, kSucess | kWealth))
        return 13;
    // The score last: it is the only test that reads the header text.
    if (on(4)) {
        const std::optional<int> score = spamScore(headerText);
        if (score && *score >= 3)
            return 4;
    }
    return 0;
}

// Reading or editing lists of 100,000 entries leaves megabytes of freed memory in the
// allocator's heap (the records read, the lists' growth) that it would keep: give it back to
// the system before the automata take theirs. The automata's own scratch is mapped and goes
// back by itself.
void releaseFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
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

    // X-and-Y entries as pairs of word ids (caption word in the high half, second word in the
    // low half), sorted and each once, so the pairs of one caption word are a run; pairStart
    // holds where each word's run begins (one more entry than there are words).
    std::vector<std::uint64_t> pairs;
    std::vector<std::uint32_t> pairStart;

    // Scratch space reused between messages.
    std::string subjectBytes, senderBytes;
    std::vector<std::int32_t> words, distinct;
    std::vector<std::uint32_t> seenStamp;
    std::uint32_t stamp = 0;

    // Reserves the most the patterns of the lists can take in the pool (with the second words
    // when asked): three bytes a code unit. Pages the pool never reaches cost nothing, and the
    // pool never moves.
    static void reservePool(BigVector<char> &pool, std::initializer_list<const RuleList *> lists,
                            bool secondWords) {
        size_t units = 64;
        for (const RuleList *list : lists)
            for (const RuleEntry &e : *list)
                units += static_cast<size_t>(e.Caption.size()) +
                         (secondWords && !e.SubItems.isEmpty()
                              ? static_cast<size_t>(e.SubItems.at(0).size())
                              : 0);
        pool.reserve(3 * units);
    }

    // Appends the folded bytes of text to pool; the pattern that stands for them.
    static Automaton::Pattern addPattern(BigVector<char> &pool, QStringView text, ClassMask classes,
                                         std::int32_t word = -1) {
        const size_t offset = pool.size();
        pool.resize(offset + 3 * static_cast<size_t>(text.size()));
        const size_t length = encodeFolded(pool.data() + offset, text);
        pool.resize(offset + length);
        return {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length), classes,
                word};
    }

    void buildSender(const RuleLists &lists) {
        BigVector<char> pool;
        reservePool(pool, {&lists.Friendly, &lists.EmailBlack}, false);
        BigVector<Automaton::Pattern> patterns;
        patterns.reserve(lists.Friendly.size() + lists.EmailBlack.size() +
                         std::size(kSenderRuleWords));
        for (const RuleEntry &e : lists.Friendly)
            patterns.push_back(addPattern(pool, e.Caption, kFriendly));
        for (const RuleEntry &e : lists.EmailBlack)
            patterns.push_back(addPattern(pool, e.Caption, kEmailBlack));
        for (const RuleWord &w : kSenderRuleWords)
            patterns.push_back(addPattern(pool, QString::fromLatin1(w.word), w.cls));
        sender.build({pool.data(), pool.size()}, std::move(patterns));
        friendly.take(lists.Friendly);
        emailBlack.take(lists.EmailBlack);
    }

    void buildSubject(const RuleLists &lists) {
        BigVector<char> pool;
        reservePool(pool, {&lists.SubjectBlack, &lists.XandY}, true);
        BigVector<Automaton::Pattern> patterns;
        patterns.reserve(lists.SubjectBlack.size() + 2 * lists.XandY.size() +
                         std::size(kSubjectRuleWords));
        for (const RuleEntry &e : lists.SubjectBlack)
            patterns.push_back(addPattern(pool, e.Caption, kSubjectBlack));
        for (const RuleWord &w : kSubjectRuleWords)
            patterns.push_back(addPattern(pool, QString::fromLatin1(w.word), w.cls));
        // Each distinct X-and-Y word once, with its id: a table of ids addressed by a hash of
        // the word's bytes, as small as the ids themselves.
        size_t slots = 16;
        while (slots < 4 * static_cast<size_t>(lists.XandY.size()))
            slots *= 2;
        BigVector<std::int32_t> table(slots, -1);
        BigVector<std::uint32_t> patternOfWord; // the pattern of each word id
        const auto idOf = [&](QStringView w) -> std::int32_t {
            Automaton::Pattern p = addPattern(pool, w, 0);
            if (p.length == 0)
                return -1;
            const std::string_view key(pool.data() + p.offset, p.length);
            for (size_t h = std::hash<std::string_view>{}(key) & (slots - 1);;
                 h = (h + 1) & (slots - 1)) {
                const std::int32_t id = table[h];
                if (id < 0) {
                    table[h] = static_cast<std::int32_t>(patternOfWord.size());
                    p.word = table[h];
                    patternOfWord.push_back(static_cast<std::uint32_t>(patterns.size()));
                    patterns.push_back(p);
                    return p.word;
                }
                const Automaton::Pattern &q = patterns[patternOfWord[static_cast<size_t>(id)]];
                if (q.length == p.length &&
                    std::memcmp(pool.data() + q.offset, key.data(), p.length) == 0) {
                    pool.resize(p.offset); // a word seen before: its bytes are not kept twice
                    return id;
                }
            }
        };
        pairs.clear();
        for (const RuleEntry &e : lists.XandY) {
            if (e.SubItems.isEmpty())
                continue;
            const std::int32_t ia = idOf(e.Caption);
            const std::int32_t ib = idOf(e.SubItems.at(0));
            if (ia >= 0 && ib >= 0)
                pairs.push_back(pairKey(ia, ib));
        }
        table = {};
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        pairs.shrink_to_fit();
        const size_t wordCount = patternOfWord.size();
        patternOfWord = {};
        pairStart.assign(wordCount + 1, 0);
        for (std::uint64_t key : pairs)
            ++pairStart[(key >> 32) + 1];
        for (size_t w = 0; w < wordCount; ++w)
            pairStart[w + 1] += pairStart[w];
        subject.build({pool.data(), pool.size()}, std::move(patterns));
        seenStamp.assign(wordCount, 0);
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
            const auto first = pairs.begin() + pairStart[static_cast<size_t>(a)];
            const auto last = pairs.begin() + pairStart[static_cast<size_t>(a) + 1];
            if (static_cast<size_t>(last - first) <= distinct.size()) {
                for (auto it = first; it != last; ++it)
                    if (seenStamp[static_cast<std::uint32_t>(*it)] == stamp)
                        return true;
            } else {
                for (auto b : distinct)
                    if (std::binary_search(first, last, pairKey(a, b)))
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
    return ClassifyWithReason(lists, subject, sender, headerText).mark;
}

RuleVerdict Classifier::ClassifyWithReason(const RuleLists &lists, const QString &subject,
                                           const QString &sender, const QString &headerText,
                                           bool friendlyAuthentic) {
    Compiled &c = *m_compiled;
    const bool subjectStale =
        !c.subjectBlack.matches(lists.SubjectBlack) || !c.xandy.matches(lists.XandY);
    const bool senderStale =
        !c.friendly.matches(lists.Friendly) || !c.emailBlack.matches(lists.EmailBlack);
    if (subjectStale || senderStale) {
        // What reading or editing the lists left behind goes back first. The subject automaton,
        // the larger build, comes first, while the memory is least taken.
        releaseFreedMemory();
        if (subjectStale)
            c.buildSubject(lists);
        if (senderStale)
            c.buildSender(lists);
    }

    // One pass over each text finds the list entries and the rule words it holds.
    encodeFolded(c.senderBytes, sender);
    encodeFolded(c.subjectBytes, subject);
    c.words.clear();
    const auto [senderFound, subjectFound] =
        scanPair(c.sender, c.senderBytes, c.subject, c.subjectBytes, c.words);
    using Source = RuleVerdict::Source;
    const bool friendly = (senderFound & kFriendly) != 0;
    if (friendly && friendlyAuthentic)
        return {RowMark::Friendly, Source::FriendlyList, 0};
    // A friendly sender the trusted server did not authenticate gets the verdict of the rest.
    const auto rest = [friendly](RuleVerdict v) {
        v.friendlyNotAuthenticated = friendly;
        return v;
    };
    if (senderFound & kEmailBlack)
        return rest({RowMark::Spam, Source::EmailBlackList, 0});
    if (subjectFound & kSubjectBlack)
        return rest({RowMark::Spam, Source::SubjectBlackList, 0});
    if (c.pairFound())
        return rest({RowMark::Spam, Source::XandYList, 0});
    int rule = ruleFound(lists.Misc, subjectFound, senderFound, headerText);
    if (rule == 0)
        return rest({});
    // The spam-score rule is tried last for speed; the reason names the lowest rule all the same.
    if (rule > 4 && lists.Misc.ticked(4)) {
        const std::optional<int> score = spamScore(headerText);
        if (score && *score >= 3)
            rule = 4;
    }
    return rest({RowMark::Spam, Source::Rule, rule});
}

QString RuleVerdict::reason() const {
    const QString own = sourceReason();
    if (!friendlyNotAuthenticated)
        return own;
    const QString unauthenticated = u"friendly sender not authenticated"_s;
    return own.isEmpty() ? unauthenticated : unauthenticated + u"; "_s + own;
}

QString RuleVerdict::sourceReason() const {
    switch (source) {
    case Source::None:
        break;
    case Source::FriendlyList:
        return u"friendly list"_s;
    case Source::EmailBlackList:
        return u"e-mail black list"_s;
    case Source::SubjectBlackList:
        return u"subject black list"_s;
    case Source::XandYList:
        return u"X-and-Y list"_s;
    case Source::Rule:
        return u"rule %1"_s.arg(rule);
    }
    return {};
}

RowVerdict combineVerdicts(const RuleVerdict &rules, std::optional<double> learned, bool confident,
                           const LearningCut &cut) {
    const auto score = [](double p) { return QString::number(p, 'f', 2); };
    switch (rules.source) {
    case RuleVerdict::Source::Rule:
        if (learned && confident && cut.veto && *learned <= cut.hamCutoff)
            return {RowMark::Plain,
                    u"%1 overruled by learning (%2)"_s.arg(rules.reason(), score(*learned))};
        return {rules.mark, rules.reason()};
    case RuleVerdict::Source::None: {
        const QString prefix = rules.reason().isEmpty() ? QString() : rules.reason() + u"; "_s;
        if (learned && *learned >= cut.spamCutoff)
            return {RowMark::Spam, prefix + u"learned "_s + score(*learned)};
        if (learned)
            return {RowMark::Plain, prefix + u"learned "_s + score(*learned)};
        return {RowMark::Plain, rules.reason()};
    }
    default:
        // The user's own lists are never overruled.
        return {rules.mark, rules.reason()};
    }
}

} // namespace corvane
