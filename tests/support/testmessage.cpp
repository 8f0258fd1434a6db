#include "testmessage.h"

namespace corvane::test {

QByteArray TestMessage::text() const {
    QByteArray out = "From: " + m_from + "\nTo: " + m_to + "\nSubject: " + m_subject +
                     "\nDate: " + m_date + '\n';
    if (!m_messageId.isEmpty())
        out += "Message-ID: <" + m_messageId + ">\n";
    return out + '\n' + m_body + '\n';
}

QByteArray nestedMultipartMessage(int depth) {
    QByteArray nest = "From: deep@example.org\nSubject: deep\nMIME-Version: 1.0\n"
                      "Content-Type: multipart/mixed; boundary=\"b0\"\n\n";
    for (int i = 1; i < depth; ++i)
        nest += "--b" + QByteArray::number(i - 1) +
                "\nContent-Type: multipart/mixed; boundary=\"b" + QByteArray::number(i) + "\"\n\n";
    nest += "--b" + QByteArray::number(depth - 1) + "\nContent-Type: text/plain\n\ninside\n";
    for (int i = depth - 1; i >= 0; --i)
        nest += "--b" + QByteArray::number(i) + "--\n";
    return nest;
}

} // namespace corvane::test
