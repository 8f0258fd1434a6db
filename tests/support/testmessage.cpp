#include "testmessage.h"

namespace corvane::test {

QByteArray TestMessage::text() const {
    QByteArray out = "From: " + m_from + "\nTo: " + m_to + "\nSubject: " + m_subject +
                     "\nDate: " + m_date + '\n';
    if (!m_messageId.isEmpty())
        out += "Message-ID: <" + m_messageId + ">\n";
    return out + '\n' + m_body + '\n';
}

} // namespace corvane::test
