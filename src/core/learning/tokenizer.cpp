#include "core/learning/tokenizer.h"

#include "core/protocol/encodedwords.h"
#include "core/protocol/mimecodec.h"

#include <QString>

#include <algorithm>
#include <array>
#include <span>

namespace corvane {

namespace {

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

// ASCII letters to lower case without a branch: tokens are hashed a byte at a time, and a
// branch per byte that goes either way on mixed-case text costs more than the hashing.
inline unsigned char foldByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return static_cast<unsigned char>(u | (static_cast<unsigned char>(u - 'A') < 26 ? 0x20 : 0));
}

inline std::uint64_t fnv(std::uint64_t h, std::string_view text, bool lower) {
    for (const char c : text) {
        h ^= lower ? foldByte(c) : static_cast<unsigned char>(c);
        h *= kFnvPrime;
    }
    return h;
}

// The finaliser of MurmurHash3: FNV's low bits alone mix poorly for short texts.
inline TokenHash finish(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

} // namespace

TokenHash tokenHash(std::string_view text) {
    return finish(fnv(kFnvOffset, text, false));
}

namespace {

// Words shorter than this say little (articles, "re", "to"); longer ones are mostly encoded
// data, hashes or run-together junk, which is kept as a token of its shape instead. Measured
// on the corpus benchmark: 2 to 4 and 12 to 20 all score within half a point of each other.
constexpr size_t kMinWord = 3;
constexpr size_t kMaxWord = 12;
// Header values past this are not read further: a hostile header cannot make a message cost
// more than a few thousand tokens.
constexpr size_t kMaxValue = 4096;
// Words taken from one header value or body line at most.
constexpr int kMaxWordsPerText = 200;

inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        c = lowerAscii(c);
    return out;
}

inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lowerAscii(s[i]) != prefix[i])
            return false;
    return true;
}

size_t findNoCase(std::string_view s, std::string_view word, size_t from = 0) {
    if (word.empty() || s.size() < word.size())
        return std::string_view::npos;
    // The candidates for the first byte are found by memchr (vectorised): twice, for a letter's
    // two cases.
    const char first = word[0];
    const bool letter = first >= 'a' && first <= 'z';
    const char upper = letter ? static_cast<char>(first - 32) : first;
    const size_t last = s.size() - word.size();
    size_t lower = s.find(first, from), capital = letter ? s.find(upper, from) : lower;
    while (lower != std::string_view::npos || capital != std::string_view::npos) {
        const size_t i = std::min(lower, capital);
        if (i > last)
            return std::string_view::npos;
        if (startsWithNoCase(s.substr(i), word))
            return i;
        if (i == lower)
            lower = s.find(first, i + 1);
        if (letter && i == capital)
            capital = s.find(upper, i + 1);
        if (!letter)
            capital = lower;
    }
    return std::string_view::npos;
}

// Letters, digits and the few marks that belong to the words spam is made of ("$100",
// "don't", "e-mail"); bytes of UTF-8 sequences count as letters. A table: every byte of
// every body line is classified.
constexpr auto kWordBytes = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '\'' || c == '$' || c == '-' || c >= 0x80;
    return table;
}();

inline bool isWordByte(unsigned char c) {
    return kWordBytes[c];
}

constexpr auto kHostBytes = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '.';
    return table;
}();

inline bool isHostByte(unsigned char c) {
    return kHostBytes[c];
}

// The last two labels of a host name ("mail.example.com" gives "example.com"): the part a
// sender pays for, shared by all of its machines.
std::string_view lastTwoLabels(std::string_view host) {
    const size_t last = host.rfind('.');
    if (last == std::string_view::npos || last == 0)
        return host;
    const size_t before = host.rfind('.', last - 1);
    return before == std::string_view::npos ? host : host.substr(before + 1);
}

// A field's value: what follows its name and colon, continuation lines joined by one blank.
struct Field {
    std::string name; // lower case
    // The value lies in its line unless continuation lines were joined to it (in joined): most
    // fields are one line, and their values are then never copied.
    std::string_view line;
    std::string joined;
    bool folded = false;
    std::string_view value() const { return folded ? std::string_view(joined) : line; }
};

} // namespace

struct MessageTokenizer::Run {
    std::vector<TokenHash> hashes;
    std::vector<std::string> *texts = nullptr;
    std::string scratch;
    // Whether words() also gives the pairs of neighbouring words (body text only).
    bool pairs = false;

    // A token: the prefix and the word, in lower case (tokenHash of that text). The prefix
    // may come in two pieces ("from:" and "addr:"): the hash runs over the bytes in turn, so
    // no joined text is ever built.
    void emit(std::string_view prefix, std::string_view word) { emit(prefix, {}, word); }
    void emit(std::string_view prefix, std::string_view prefix2, std::string_view word) {
        hashes.push_back(
            finish(fnv(fnv(fnv(kFnvOffset, prefix, true), prefix2, true), word, true)));
        recordText(prefix, prefix2, word);
    }

    // The text of the token just hashed, when texts are asked for.
    void recordText(std::string_view prefix, std::string_view prefix2, std::string_view word) {
        if (texts) [[unlikely]]
            recordTextAlways(prefix, prefix2, word);
    }
    void recordTextAlways(std::string_view prefix, std::string_view prefix2,
                          std::string_view word) {
        scratch.assign(prefix);
        scratch.append(prefix2);
        scratch.append(word);
        for (char &c : scratch)
            c = lowerAscii(c);
        texts->push_back(scratch);
    }

    // Two neighbouring body words as one token, "bi:first second" (words() hashes them).
    // Spam is written in set phrases ("click here", "dear friend", "remove you from") whose
    // words alone are common in ham too; measured on the corpus benchmark, the pairs catch 4
    // points more of the later spam at the same share of ham flagged (the learner keeps about
    // four times more tokens).
    void pairText(std::string_view first, std::string_view second) {
        if (!texts)
            return;
        scratch = "bi:";
        scratch.append(first);
        scratch += ' ';
        scratch.append(second);
        for (char &c : scratch)
            c = lowerAscii(c);
        texts->push_back(scratch);
    }

    // The words of a line of body text and the pairs of neighbouring words (within the line).
    void bodyWords(std::string_view text) {
        pairs = true;
        words({}, {}, text);
        pairs = false;
    }

    // The words of a text with a prefix. Words too long to be words become a token of their
    // first letter and length in tens: runs of encoded data say "spam" by their shape alone.
    void words(std::string_view prefix, std::string_view text) { words(prefix, {}, text); }
    void words(std::string_view prefix, std::string_view prefix2, std::string_view text) {
        // The prefix is hashed once for all the words; the words continue from its state.
        const std::uint64_t base = fnv(fnv(kFnvOffset, prefix, true), prefix2, true);
        // For the pairs: "bi:", and "bi:previous " once a previous word was met.
        const std::uint64_t pairBase = fnv(kFnvOffset, "bi:", false);
        std::uint64_t pairState = 0;
        int count = 0;
        size_t i = 0;
        std::string_view previous;
        const size_t n = std::min(text.size(), kMaxValue * 4);
        while (i < n && count < kMaxWordsPerText) {
            while (i < n && !isWordByte(static_cast<unsigned char>(text[i])))
                ++i;
            size_t j = i;
            while (j < n && isWordByte(static_cast<unsigned char>(text[j])))
                ++j;
            std::string_view w = text.substr(i, j - i);
            // Quotes and dashes around a word are punctuation, not part of it.
            while (!w.empty() && (w.front() == '\'' || w.front() == '-'))
                w.remove_prefix(1);
            while (!w.empty() && (w.back() == '\'' || w.back() == '-'))
                w.remove_suffix(1);
            if (w.size() >= kMinWord && w.size() <= kMaxWord) {
                if (pairs) {
                    // One pass over the word for its three hashes: the word itself, the pair
                    // it ends, and the start of the pair it begins.
                    std::uint64_t word = base, pair = pairState, next = pairBase;
                    for (const char c : w) {
                        const unsigned char b = foldByte(c);
                        word = (word ^ b) * kFnvPrime;
                        pair = (pair ^ b) * kFnvPrime;
                        next = (next ^ b) * kFnvPrime;
                    }
                    hashes.push_back(finish(word));
                    recordText(prefix, prefix2, w);
                    if (!previous.empty()) {
                        hashes.push_back(finish(pair));
                        pairText(previous, w);
                    }
                    pairState = (next ^ static_cast<unsigned char>(' ')) * kFnvPrime;
                } else {
                    hashes.push_back(finish(fnv(base, w, true)));
                    recordText(prefix, prefix2, w);
                }
                previous = w;
                ++count;
            } else if (w.size() > kMaxWord) {
                // "skip:" the first letter and the length in tens, built without allocating.
                char shape[32] = "skip:";
                size_t len = 5;
                shape[len++] = lowerAscii(w.front());
                char digits[20];
                size_t d = 0;
                for (size_t tens = w.size() / 10 * 10; tens > 0 || d == 0; tens /= 10)
                    digits[d++] = static_cast<char>('0' + tens % 10);
                while (d > 0)
                    shape[len++] = digits[--d];
                const std::string_view token(shape, len);
                hashes.push_back(finish(fnv(base, token, true)));
                recordText(prefix, prefix2, token);
                ++count;
            }
            i = j;
        }
    }

    // Host names of the URLs in a text, as "url:host" and "url:dom:example.com": where a
    // message sends its reader is the one thing a spammer cannot vary.
    void urls(std::string_view text) {
        // Most lines hold no URL: one fast search for "://" spares them the scan for "http".
        if (text.find("://") == std::string_view::npos)
            return;
        size_t from = 0;
        for (;;) {
            size_t at = findNoCase(text, "http", from);
            size_t hostStart;
            if (at == std::string_view::npos)
                break;
            size_t k = at + 4;
            if (k < text.size() && lowerAscii(text[k]) == 's')
                ++k;
            if (text.substr(k, 3) != "://") {
                from = at + 4;
                continue;
            }
            hostStart = k + 3;
            size_t e = hostStart;
            while (e < text.size() && isHostByte(static_cast<unsigned char>(text[e])))
                ++e;
            std::string_view host = text.substr(hostStart, e - hostStart);
            while (!host.empty() && host.back() == '.')
                host.remove_suffix(1);
            if (!host.empty()) {
                emit("url:", host);
                emit("url:dom:", lastTwoLabels(host));
            } else {
                emit("url:", "none");
            }
            from = e > at ? e : at + 4;
        }
    }

    // The address of a mailbox text ("Name <a@b>" or "a@b"), without the angle brackets.
    static std::string_view addressOf(std::string_view value) {
        const size_t lt = value.rfind('<');
        if (lt != std::string_view::npos) {
            const size_t gt = value.find('>', lt);
            return trimmed(value.substr(lt + 1, gt == std::string_view::npos ? gt : gt - lt - 1));
        }
        const size_t atSign = value.find('@');
        if (atSign == std::string_view::npos)
            return {};
        size_t s = atSign, e = atSign;
        while (s > 0 && !isSpace(value[s - 1]) && value[s - 1] != '(' && value[s - 1] != ',')
            --s;
        while (e < value.size() && !isSpace(value[e]) && value[e] != ')' && value[e] != ',')
            ++e;
        return value.substr(s, e - s);
    }

    // An address field: the address and its domain. Spammers rotate addresses but reuse
    // domains and free-mail providers, and a correspondent's own address is the strongest
    // sign of ham there is.
    void address(std::string_view prefix, std::string_view value, bool nameWords) {
        const std::string_view addr = addressOf(value);
        const std::string_view p = prefix;
        if (addr.empty()) {
            emit(p, "none");
            return;
        }
        emit(p, "addr:", addr);
        const size_t atSign = addr.rfind('@');
        if (atSign != std::string_view::npos) {
            const std::string_view domain = addr.substr(atSign + 1);
            emit(p, "dom:", domain);
            // Digits in the local part: generated one-time addresses.
            const std::string_view local = addr.substr(0, atSign);
            if (std::count_if(local.begin(), local.end(),
                              [](char c) { return c >= '0' && c <= '9'; }) >= 3)
                emit(p, "localdigits");
        }
        if (nameWords) {
            const size_t lt = value.rfind('<');
            if (lt != std::string_view::npos && lt > 0)
                words(p, "name:", value.substr(0, lt));
            else
                emit(p, "noname");
        }
    }

    // How many recipients a field names, in a few classes: mail to long lists of strangers
    // looks different from mail to one person.
    void recipientCount(std::string_view prefix, std::string_view value) {
        const auto count = std::count(value.begin(), value.end(), '@');
        const char *bucket = count == 0    ? "0"
                             : count == 1  ? "1"
                             : count == 2  ? "2"
                             : count <= 5  ? "3-5"
                             : count <= 10 ? "6-10"
                                           : "many";
        emit(prefix, bucket);
    }

    // The subject: its decoded words, the character set and encoding of its encoded words
    // (spam in a reader's language still comes in sets that reader's mail never uses), and
    // its shape (capitals, exclamation marks), which the fixed rules read too.
    void subject(std::string_view value) {
        size_t from = 0;
        for (;;) {
            const size_t start = value.find("=?", from);
            if (start == std::string_view::npos)
                break;
            const size_t q1 = value.find('?', start + 2);
            if (q1 == std::string_view::npos || q1 + 2 >= value.size() || value[q1 + 2] != '?')
                break;
            emit("subj:cs:", value.substr(start + 2, q1 - start - 2));
            emit("subj:enc:", value.substr(q1 + 1, 1));
            from = q1 + 3;
        }
        // Most subjects are plain ASCII without encoded words: they are their own text, and
        // decoding (through UTF-16 and back) would only cost time.
        const bool plain =
            value.find("=?") == std::string_view::npos &&
            std::all_of(value.begin(), value.end(), [](char c) { return (c & 0x80) == 0; });
        QByteArray decoded;
        if (!plain)
            decoded =
                decodeHeaderText(QByteArrayView(value.data(), qsizetype(value.size()))).toUtf8();
        const std::string_view text =
            plain ? value : std::string_view(decoded.constData(), size_t(decoded.size()));
        words("subj:", text);
        int letters = 0, capitals = 0;
        for (const char c : text) {
            if (c >= 'A' && c <= 'Z')
                ++capitals;
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
                ++letters;
        }
        if (letters >= 6 && capitals * 2 > letters)
            emit("subj:", "shape:capitals");
        if (text.find('!') != std::string_view::npos)
            emit("subj:", "shape:exclamation");
        if (text.find("  ") != std::string_view::npos)
            emit("subj:", "shape:blanks");
        if (text.empty())
            emit("subj:", "shape:empty");
    }

    // A Received hop that the user's own server did not add: the names its sender gave and
    // the network (IP /24) it came from. Spam comes from a few networks and hosts again and
    // again; ham from the correspondents' usual servers.
    void received(std::string_view value) {
        const size_t by = findNoCase(value, " by ");
        const std::string_view fromPart =
            by == std::string_view::npos ? value : value.substr(0, by);
        size_t i = 0;
        int taken = 0;
        while (i < fromPart.size() && taken < 8) {
            while (i < fromPart.size() && !isHostByte(static_cast<unsigned char>(fromPart[i])))
                ++i;
            size_t j = i;
            while (j < fromPart.size() && isHostByte(static_cast<unsigned char>(fromPart[j])))
                ++j;
            std::string_view item = fromPart.substr(i, j - i);
            while (!item.empty() && item.back() == '.')
                item.remove_suffix(1);
            i = j;
            if (item.find('.') == std::string_view::npos)
                continue;
            const bool numeric = std::all_of(item.begin(), item.end(), [](char c) {
                return (c >= '0' && c <= '9') || c == '.';
            });
            if (numeric) {
                if (std::count(item.begin(), item.end(), '.') != 3)
                    continue;
                emit("rcvd:ip:", item.substr(0, item.rfind('.')));
            } else {
                emit("rcvd:dom:", lastTwoLabels(item));
            }
            ++taken;
        }
    }

    void messageId(std::string_view value) {
        const size_t atSign = value.rfind('@');
        if (atSign == std::string_view::npos) {
            emit("mid:", "nodomain");
            return;
        }
        size_t e = atSign + 1;
        while (e < value.size() && value[e] != '>' && !isSpace(value[e]))
            ++e;
        const std::string_view domain = value.substr(atSign + 1, e - atSign - 1);
        // A Message-ID "domain" of bare numbers is a made-up one.
        const bool numeric = std::all_of(domain.begin(), domain.end(),
                                         [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
        emit("mid:dom:", numeric ? std::string_view("numeric") : lastTwoLabels(domain));
    }

    // The media type and character set of a Content-Type value, lower case.
    static void contentType(std::string_view value, std::string &type, std::string &charset,
                            std::string &boundary) {
        const size_t semi = value.find(';');
        type = lowered(trimmed(value.substr(0, semi)));
        charset.clear();
        boundary.clear();
        if (semi == std::string_view::npos)
            return;
        const std::string_view params = value.substr(semi);
        const auto param = [&](std::string_view name) -> std::string {
            size_t at = findNoCase(params, name);
            while (at != std::string_view::npos) {
                // The name must stand on its own: "charset" is not the tail of "xcharset".
                if (at == 0 || params[at - 1] == ';' || isSpace(params[at - 1]))
                    break;
                at = findNoCase(params, name, at + 1);
            }
            if (at == std::string_view::npos)
                return {};
            size_t k = at + name.size();
            while (k < params.size() && isSpace(params[k]))
                ++k;
            if (k >= params.size() || params[k] != '=')
                return {};
            ++k;
            while (k < params.size() && isSpace(params[k]))
                ++k;
            if (k < params.size() && params[k] == '"') {
                const size_t end = params.find('"', k + 1);
                return std::string(params.substr(
                    k + 1, end == std::string_view::npos ? std::string_view::npos : end - k - 1));
            }
            size_t end = k;
            while (end < params.size() && params[end] != ';' && !isSpace(params[end]))
                ++end;
            return std::string(params.substr(k, end - k));
        };
        charset = lowered(param("charset"));
        boundary = param("boundary");
    }
};

namespace {

enum class Encoding { Identity, QuotedPrintable, Base64 };

Encoding encodingOf(std::string_view cte) {
    const std::string v = lowered(trimmed(cte));
    if (v == "quoted-printable")
        return Encoding::QuotedPrintable;
    if (v == "base64")
        return Encoding::Base64;
    return Encoding::Identity;
}

// The body's text as a reader sees it, from the fetched lines: the parts of a multipart
// body are followed by their boundaries, each part's lines decoded by its own
// Content-Transfer-Encoding, HTML tags taken out; parts that are not text give a token of
// their type only.
class BodyReader {
public:
    // pending and plain are buffers that outlive the reader, so that their memory serves one
    // message after another.
    BodyReader(MessageTokenizer::Run &run, std::string type, std::string boundary,
               Encoding encoding, QByteArray &pending, std::string &plain)
        : m_run(run), m_pending(pending), m_plain(plain) {
        m_pending.resize(0);
        if (type.rfind("multipart/", 0) == 0 && !boundary.empty()) {
            m_boundaries.push_back("--" + boundary);
            m_inPartHeader = false;
            m_inPreamble = true;
        } else {
            startPart(type, encoding);
        }
    }

    void line(std::string_view raw) {
        if (!m_boundaries.empty() && raw.size() >= 2 && raw[0] == '-' && raw[1] == '-') {
            for (const std::string &b : m_boundaries) {
                if (raw.substr(0, b.size()) == b) {
                    endPart();
                    m_inPreamble = false;
                    m_inPartHeader = true;
                    m_partType.clear();
                    m_partEncoding.clear();
                    m_partBoundary.clear();
                    m_lastPartField = nullptr;
                    return;
                }
            }
        }
        if (m_inPreamble)
            return;
        if (m_inPartHeader) {
            partHeaderLine(raw);
            return;
        }
        if (!m_text)
            return;
        switch (m_encoding) {
        case Encoding::Identity:
            text(raw);
            break;
        case Encoding::QuotedPrintable:
            if (!quotedPrintable(raw)) {
                text({m_pending.constData(), size_t(m_pending.size())});
                m_pending.resize(0);
            }
            break;
        case Encoding::Base64:
            m_base64.feed(QByteArrayView(raw.data(), qsizetype(raw.size())), m_pending);
            break;
        }
    }

    void finish() {
        endPart();
        if (m_htmlSeen)
            m_run.emit("body:", "html");
    }

private:
    // Decodes a quoted-printable line onto m_pending, as decodeQuotedPrintableLine does
    // (trailing blanks ignored, "=" without two hexadecimal digits kept), but in place: most
    // body lines of HTML mail are quoted-printable, and a string per line and a call per byte
    // cost more than the rest of their tokenising. Returns whether the line ended in a soft
    // break ("=").
    bool quotedPrintable(std::string_view line) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        const bool soft = !line.empty() && line.back() == '=';
        if (soft)
            line.remove_suffix(1);
        const qsizetype start = m_pending.size();
        m_pending.resize(start + qsizetype(line.size()));
        char *const begin = m_pending.data() + start;
        char *out = begin;
        for (size_t i = 0; i < line.size(); ++i) {
            int high, low;
            if (line[i] == '=' && i + 2 < line.size() && (high = hexDigit(line[i + 1])) >= 0 &&
                (low = hexDigit(line[i + 2])) >= 0) {
                *out++ = static_cast<char>(high * 16 + low);
                i += 2;
            } else {
                *out++ = line[i];
            }
        }
        m_pending.resize(start + qsizetype(out - begin));
        return soft;
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    }

    void partHeaderLine(std::string_view raw) {
        if (trimmed(raw).empty()) {
            m_inPartHeader = false;
            std::string type, charset, boundary;
            MessageTokenizer::Run::contentType(m_partType, type, charset, boundary);
            if (type.rfind("multipart/", 0) == 0) {
                if (!boundary.empty())
                    m_boundaries.push_back("--" + boundary);
                m_inPreamble = true;
                return;
            }
            if (!charset.empty())
                m_run.emit("part:cs:", charset);
            startPart(type.empty() ? std::string("text/plain") : type, encodingOf(m_partEncoding));
            return;
        }
        if (isSpace(raw.front())) {
            if (m_lastPartField)
                m_lastPartField->append(raw);
            return;
        }
        m_lastPartField = nullptr;
        if (startsWithNoCase(raw, "content-type:")) {
            m_partType.assign(raw.substr(13));
            m_lastPartField = &m_partType;
        } else if (startsWithNoCase(raw, "content-transfer-encoding:")) {
            m_partEncoding.assign(raw.substr(26));
            m_lastPartField = &m_partEncoding;
        }
    }

    void startPart(const std::string &type, Encoding encoding) {
        m_encoding = encoding;
        m_base64 = Base64Decoder();
        m_pending.resize(0);
        m_html = type == "text/html";
        m_htmlSeen = m_htmlSeen || m_html;
        m_text = type.empty() || type.rfind("text/", 0) == 0;
        m_inTag = false;
        if (!m_text)
            m_run.emit("part:", type);
        else if (encoding != Encoding::Identity)
            m_run.emit("part:cte:", encoding == Encoding::Base64 ? "base64" : "qp");
    }

    void endPart() {
        if (!m_text) {
            m_pending.resize(0);
            return;
        }
        if (m_encoding == Encoding::Base64) {
            m_base64.finish(m_pending);
            // Decoded base64 holds line breaks of its own.
            const std::string_view all(m_pending.constData(), size_t(m_pending.size()));
            size_t start = 0;
            while (start < all.size()) {
                size_t end = all.find('\n', start);
                if (end == std::string_view::npos)
                    end = all.size();
                text(all.substr(start, end - start));
                start = end + 1;
            }
        } else if (!m_pending.isEmpty()) {
            text({m_pending.constData(), size_t(m_pending.size())});
        }
        m_pending.resize(0);
        m_text = false;
    }

    // One line of decoded text: URL hosts first (they stand inside tags too), then the
    // words outside tags, with character entities taken as blanks.
    void text(std::string_view line) {
        m_run.urls(line);
        // Much HTML mail is sent as text/plain, or with no type at all: a tag makes the rest
        // of the part HTML, so that tag and attribute names never count as words.
        if (!m_html) {
            for (size_t at = line.find('<'); at != std::string_view::npos && at + 1 < line.size();
                 at = line.find('<', at + 1)) {
                const char c = line[at + 1];
                if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' || c == '!') {
                    m_html = m_htmlSeen = true;
                    break;
                }
            }
        }
        if (!m_html) {
            m_run.bodyWords(line);
            return;
        }
        // The text between tags is copied a run at a time; a tag and an entity become a blank.
        m_plain.clear();
        size_t i = 0;
        while (i < line.size()) {
            if (m_inTag) {
                const size_t end = line.find('>', i);
                if (end == std::string_view::npos)
                    break;
                m_inTag = false;
                i = end + 1;
                continue;
            }
            size_t e = i;
            while (e < line.size() && line[e] != '<' && line[e] != '&')
                ++e;
            m_plain.append(line.substr(i, e - i));
            if (e == line.size())
                break;
            if (line[e] == '<') {
                m_inTag = true;
                m_plain += ' ';
                i = e + 1;
                continue;
            }
            size_t k = e + 1;
            while (k < line.size() && k - e < 10 && line[k] != ';' && !isSpace(line[k]))
                ++k;
            if (k < line.size() && line[k] == ';') {
                // Letters written as numbered entities hide words from filters.
                if (e + 1 < line.size() && line[e + 1] == '#')
                    m_run.emit("body:", "numericentity");
                m_plain += ' ';
                i = k + 1;
                continue;
            }
            m_plain += '&';
            i = e + 1;
        }
        m_run.bodyWords(m_plain);
    }

    MessageTokenizer::Run &m_run;
    std::vector<std::string> m_boundaries;
    bool m_inPreamble = false;
    bool m_inPartHeader = false;
    std::string m_partType, m_partEncoding, m_partBoundary;
    std::string *m_lastPartField = nullptr;
    bool m_text = false;
    bool m_html = false;
    bool m_htmlSeen = false;
    bool m_inTag = false;
    Encoding m_encoding = Encoding::Identity;
    Base64Decoder m_base64;
    QByteArray &m_pending;
    std::string &m_plain;
};

// The fields of a header block, continuation lines joined; values cut at kMaxValue. The
// fields are written into `fields` from the start, reusing the strings a previous message
// left there (their memory), and their number is returned: a message's fields then cost no
// allocation once a few messages have been read.
size_t unfold(const QList<QByteArray> &lines, std::vector<Field> &fields) {
    size_t used = 0;
    for (const QByteArray &line : lines) {
        const std::string_view l(line.constData(), size_t(line.size()));
        if (l.empty())
            continue;
        if (isSpace(l.front())) {
            if (used > 0 && fields[used - 1].value().size() < kMaxValue) {
                Field &f = fields[used - 1];
                if (!f.folded)
                    f.joined.assign(f.line);
                f.folded = true;
                f.joined += ' ';
                f.joined.append(trimmed(l));
            }
            continue;
        }
        const size_t colon = l.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue; // not a field (an mbox "From " line, damage)
        const std::string_view name = trimmed(l.substr(0, colon));
        if (name.find(' ') != std::string_view::npos)
            continue;
        if (used == fields.size())
            fields.emplace_back();
        Field &f = fields[used++];
        f.name.assign(name);
        for (char &c : f.name)
            c = lowerAscii(c);
        f.line = trimmed(l.substr(colon + 1)).substr(0, kMaxValue);
        f.folded = false;
    }
    return used;
}

// Sorts a message's distinct token hashes. They are spread evenly over 64 bits, so their top
// bits place each one nearly where it belongs: a distribution by the top bits into about one
// bucket per hash, then an insertion sort that moves each hash past at most a few neighbours.
// Linear in the count and with few mispredicted branches, where a comparison sort of a few
// hundred random keys is bound by them.
void sortHashes(std::vector<TokenHash> &hashes) {
    const size_t n = hashes.size();
    if (n < 32) {
        std::sort(hashes.begin(), hashes.end());
        return;
    }
    int bits = 1;
    while ((size_t(1) << bits) < n)
        ++bits;
    const int shift = 64 - bits;
    thread_local std::vector<std::uint32_t> starts;
    thread_local std::vector<TokenHash> sorted;
    starts.assign((size_t(1) << bits) + 1, 0);
    for (const TokenHash h : hashes)
        ++starts[(h >> shift) + 1];
    for (size_t b = 1; b < starts.size(); ++b)
        starts[b] += starts[b - 1];
    sorted.resize(n);
    for (const TokenHash h : hashes)
        sorted[starts[h >> shift]++] = h;
    for (size_t i = 1; i < n; ++i) {
        const TokenHash h = sorted[i];
        size_t j = i;
        for (; j > 0 && sorted[j - 1] > h; --j)
            sorted[j] = sorted[j - 1];
        sorted[j] = h;
    }
    hashes.swap(sorted);
}

} // namespace

std::vector<TokenHash> MessageTokenizer::tokenize(const QList<QByteArray> &headerLines,
                                                  const QList<QByteArray> &bodyLines,
                                                  std::vector<std::string> *texts) {
    Run run;
    run.texts = texts;
    run.hashes.reserve(256);
    thread_local std::vector<Field> fieldStore;
    const size_t fieldCount = unfold(headerLines, fieldStore);
    const std::span<const Field> fields(fieldStore.data(), fieldCount);
    std::string type, charset, boundary, encoding;
    bool firstReceived = true;
    bool sawMessageId = false;
    bool listFields = false;
    for (const Field &f : fields) {
        const std::string_view v = f.value();
        // Compared as views: their lengths first, so that most comparisons cost nothing.
        const std::string_view name = f.name;
        // Which fields a message has: mailing lists, mail programs and bulk senders each
        // leave their own set.
        // The List-* fields of RFC 2369 come together: one token for the lot, so that a
        // mailing list's seven fields do not outweigh everything else a message says.
        if (f.name.rfind("list-", 0) == 0) {
            if (!listFields)
                run.emit("hdr:", "list-*");
            listFields = true;
        } else if (f.name.size() <= 40) {
            run.emit("hdr:", f.name);
        }
        if (name == "from") {
            run.address("from:", v, true);
        } else if (name == "reply-to") {
            run.address("rt:", v, false);
        } else if (name == "return-path") {
            run.address("rp:", v, false);
        } else if (name == "sender") {
            run.address("snd:", v, false);
        } else if (name == "subject") {
            run.subject(v);
        } else if (name == "to") {
            run.recipientCount("to:n:", v);
        } else if (name == "cc") {
            run.recipientCount("cc:n:", v);
        } else if (name == "received") {
            // The topmost hop is the user's own server taking the message in: the same for
            // every message, it says nothing.
            if (!firstReceived)
                run.received(v);
            firstReceived = false;
        } else if (name == "message-id") {
            run.messageId(v);
            sawMessageId = true;
        } else if (name == "x-mailer" || name == "user-agent") {
            // The mail program and its version: bulk mailers name themselves.
            run.words("xm:", v);
        } else if (name == "content-type") {
            Run::contentType(v, type, charset, boundary);
            run.emit("ct:", type.empty() ? std::string_view("none") : std::string_view(type));
            if (!charset.empty())
                run.emit("cs:", charset);
        } else if (name == "content-transfer-encoding") {
            encoding.assign(v);
            run.emit("cte:", lowered(trimmed(v)));
        }
    }
    if (!sawMessageId && !fields.empty())
        run.emit("mid:", "none");

    if (!bodyLines.isEmpty()) {
        thread_local QByteArray pending;
        thread_local std::string plain;
        BodyReader body(run, type, boundary, encodingOf(encoding), pending, plain);
        for (const QByteArray &line : bodyLines)
            body.line({line.constData(), size_t(line.size())});
        body.finish();
    }

    // Each token counts once per message. Texts keep the order first met, without repeats.
    std::vector<TokenHash> hashes = std::move(run.hashes);
    if (texts) {
        std::vector<std::string> unique;
        std::vector<TokenHash> seen;
        for (size_t i = 0; i < hashes.size(); ++i) {
            if (std::find(seen.begin(), seen.end(), hashes[i]) != seen.end())
                continue;
            seen.push_back(hashes[i]);
            unique.push_back((*texts)[texts->size() - hashes.size() + i]);
        }
        texts->resize(texts->size() - hashes.size());
        texts->insert(texts->end(), unique.begin(), unique.end());
    }
    // Repeats (a word used twice, the same pair again) are dropped first through a small
    // open-addressing set, so that only the distinct tokens are sorted. The hashes are mixed
    // already: their low bits pick the slot.
    size_t capacity = 64;
    while (capacity < 2 * hashes.size())
        capacity *= 2;
    thread_local std::vector<TokenHash> seen;
    seen.assign(capacity, 0); // 0 marks a free slot; a token hashed to 0 is tracked aside
    const size_t mask = capacity - 1;
    bool zeroSeen = false;
    size_t distinct = 0;
    for (const TokenHash h : hashes) {
        if (h == 0) {
            if (!zeroSeen)
                hashes[distinct++] = h;
            zeroSeen = true;
            continue;
        }
        size_t i = h & mask;
        while (seen[i] != 0 && seen[i] != h)
            i = (i + 1) & mask;
        if (seen[i] == h)
            continue;
        seen[i] = h;
        hashes[distinct++] = h;
    }
    hashes.resize(distinct);
    sortHashes(hashes);
    return hashes;
}

} // namespace corvane
