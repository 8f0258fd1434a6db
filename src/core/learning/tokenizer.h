#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// A token as the learner keeps it: a 64-bit hash of its text. Hashes are all the learning
// database holds of a message (no text of it), and they make scoring a lookup in a flat table.
using TokenHash = std::uint64_t;

// The hash of one token text: FNV-1a over the bytes, then a final mix so that the low bits
// (which pick a table slot) depend on every byte. Stable across runs and platforms: it is
// the key of the stored counts.
TokenHash tokenHash(std::string_view text);

// Splits what the header scan fetched of a message (its header lines and its first body lines,
// exactly as received) into the tokens the learner counts: the distinct tokens, sorted.
//
// Header tokens carry the field they came from as a prefix ("from:dom:example.com",
// "subj:offer"), because a word says something different in a subject than in a mailer name.
// Body lines are decoded from quoted-printable or base64 as far as the fetched lines allow,
// HTML tags are stripped, and URL host names are kept as tokens of their own. Input is
// untrusted: lines of any length and any bytes are taken, and the work per message is bounded
// by the lines given (the scan caps both).
class MessageTokenizer {
public:
    // texts, when given, also receives the text of each distinct token, in the order first met
    // (tests and diagnosis: the tokens a message gave).
    std::vector<TokenHash> tokenize(const QList<QByteArray> &headerLines,
                                    const QList<QByteArray> &bodyLines,
                                    std::vector<std::string> *texts = nullptr);

    // The state of one message's tokenising (in the source file only).
    struct Run;
};

} // namespace corvane
