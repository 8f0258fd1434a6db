#pragma once

#include <QByteArray>

namespace corvane::test {

// A message as a mailbox stores it (LF line ends), built from named parts so that a test
// states only what matters to it:
//   TestMessage().from("Friend <friend@example.org>").subject("Lunch").text()
class TestMessage {
public:
    TestMessage &from(QByteArray value) { return set(m_from, std::move(value)); }
    TestMessage &to(QByteArray value) { return set(m_to, std::move(value)); }
    TestMessage &subject(QByteArray value) { return set(m_subject, std::move(value)); }
    TestMessage &date(QByteArray value) { return set(m_date, std::move(value)); }
    // A Message-ID line (none by default); value without the angle brackets.
    TestMessage &messageId(QByteArray value) { return set(m_messageId, std::move(value)); }
    // The body's lines joined by LF, without the last line break.
    TestMessage &body(QByteArray value) { return set(m_body, std::move(value)); }

    // From, To, Subject, Date and Message-ID in that order, a blank line, the body, LF.
    QByteArray text() const;
    operator QByteArray() const { return text(); }

private:
    TestMessage &set(QByteArray &field, QByteArray value) {
        field = std::move(value);
        return *this;
    }

    QByteArray m_from = "Sender <sender@example.com>";
    QByteArray m_to = "Me <me@example.net>";
    QByteArray m_subject = "Hello";
    QByteArray m_date = "Tue, 1 Dec 2026 10:00:00 +0000";
    QByteArray m_messageId;
    QByteArray m_body = "Body text";
};

// A message whose multiparts nest depth deep (far past what the parser takes), around one
// text part that says "inside"; LF line ends.
QByteArray nestedMultipartMessage(int depth);

} // namespace corvane::test
