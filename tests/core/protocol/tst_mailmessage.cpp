#include "core/errors.h"
#include "core/protocol/devicelines.h"
#include "core/protocol/maildate.h"
#include "core/protocol/mailmessage.h"
#include "failingdevice.h"
#include "messagelines.h"
#include "testsupport.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace corvane;
using namespace corvane::test;
using namespace Qt::StringLiterals;

namespace {

// Reads wire text (CR LF or LF lines) as a fetch does; the end line "." is added.
void readInto(MailMessage &m, const QByteArray &wire) {
    ListLineSource source = ListLineSource::fromText(wire + ".\r\n");
    m.ReadMessage(source);
}

MailMessage read(const QByteArray &wire) {
    MailMessage m;
    readInto(m, wire);
    return m;
}

QList<QByteArray> written(const MailMessage &m) {
    ListLineSink sink;
    m.WriteMessage(sink);
    return sink.lines;
}

// Writes and reads back, as a save and a load do.
MailMessage roundTrip(const MailMessage &m) {
    ListLineSink sink;
    m.WriteMessage(sink);
    sink.lines.append(".");
    ListLineSource source(sink.lines);
    MailMessage back;
    back.ReadMessage(source);
    return back;
}

QList<QByteArray> headerOf(const QList<QByteArray> &lines) {
    const qsizetype blank = lines.indexOf(QByteArray());
    return lines.mid(0, blank);
}

QList<QByteArray> bodyOf(const QList<QByteArray> &lines) {
    const qsizetype blank = lines.indexOf(QByteArray());
    return lines.mid(blank + 1);
}

QString escaped(const QByteArray &bytes) {
    QString out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && u != '\\')
            out += QLatin1Char(char(u));
        else
            out += u"\\x%1"_s.arg(u, 2, 16, QChar(u'0'));
    }
    return out;
}

// One line per part: "text <type> <lines joined by |>" or "file <name> <content>".
QStringList describe(const MailMessage &m) {
    QStringList out;
    for (const MessagePart &p : m.MessageParts) {
        if (p.isText()) {
            QStringList lines;
            for (QByteArrayView l : p.Lines)
                lines.append(escaped(l.toByteArray()));
            out.append(u"text %1 %2"_s.arg(p.MediaType(), lines.join(u'|')));
        } else {
            out.append(u"file %1 %2"_s.arg(p.FileName, escaped(readFile(p.StoredFile()))));
        }
    }
    return out;
}

QByteArray joinLines(const QList<QByteArray> &lines) {
    QByteArray out;
    for (const QByteArray &l : lines)
        out += l + "\r\n";
    return out;
}

} // namespace

class TestMailMessage final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // --- header lines and lookup ---------------------------------------------------------

    void headerLookup_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("simple") << QByteArray("Subject: hello\n") << QByteArray("Subject")
                                << QByteArray("hello");
        QTest::newRow("any case") << QByteArray("SUBJECT: hello\n") << QByteArray("subject")
                                  << QByteArray("hello");
        QTest::newRow("first of two") << QByteArray("Subject: one\nSubject: two\n")
                                      << QByteArray("Subject") << QByteArray("one");
        QTest::newRow("continuations joined by one blank")
            << QByteArray("Subject: one  \n\t two\n   three \nX: y\n") << QByteArray("Subject")
            << QByteArray("one two three");
        QTest::newRow("blank continuation left out")
            << QByteArray("Subject: one\n \n two\n") << QByteArray("Subject")
            << QByteArray("one two");
        QTest::newRow("continuation is not a field")
            << QByteArray("X-A: a\n Subject: no\nSubject: yes\n") << QByteArray("Subject")
            << QByteArray("yes");
        QTest::newRow("blank before colon")
            << QByteArray("Subject : spaced\n") << QByteArray("Subject") << QByteArray("spaced");
        QTest::newRow("no blank after colon")
            << QByteArray("Subject:tight\n") << QByteArray("Subject") << QByteArray("tight");
        QTest::newRow("missing") << QByteArray("From: a@b\n") << QByteArray("Subject")
                                 << QByteArray();
        QTest::newRow("prefix is not the name")
            << QByteArray("Subjects: no\n") << QByteArray("Subject") << QByteArray();
    }
    void headerLookup() {
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, value);
        const MailMessage m = read(header + "\n");
        QCOMPARE(m.HeaderValue(name), value);
    }

    void headerLinesExactlyAsRead() {
        const QByteArray header = "Received: from a\r\n\tby b; Tue, 3 Jun 2003\r\n"
                                  "Subject:   =?utf-8?Q?x?=  \r\nX-Raw: \xe9\r\n";
        const MailMessage m = read(header + "\r\nbody\r\n");
        QCOMPARE(m.HeaderLines, (QList<QByteArray>{"Received: from a", "\tby b; Tue, 3 Jun 2003",
                                                   "Subject:   =?utf-8?Q?x?=  ", "X-Raw: \xe9"}));
        QCOMPARE(m.HeaderText(), header);
        QCOMPARE(m.Body, QList<QByteArray>{"body"});
    }

    void parseFields() {
        const MailMessage m =
            read("From: \"Bloggs, Joe\" <joe@example.com>\n"
                 "To: Ann Smith <ann@x.org>, bob@y.org\n"
                 "Cc: cc@z.org\n"
                 "Reply-To: r1@x.org, R2 <r2@x.org>\n"
                 "Sender: Sender <s@x.org>\n"
                 "Return-Receipt-To: rr@x.org\n"
                 "Organization: =?utf-8?Q?Caf=C3=A9?= Inc\n"
                 "References: <a@b> <c@d>\n"
                 "Newsgroups: comp.a, comp.b\n"
                 "Message-Id: <id@host>\n"
                 "X-Priority: 1 (Highest)\n"
                 "Content-Type: text/plain;\n charset=\"ISO-8859-1\"; format=flowed\n"
                 "Content-Transfer-Encoding: 8bit\n"
                 "Content-Disposition: inline\n"
                 "Subject: =?iso-8859-1?Q?Caf=E9_ouvert?=\n"
                 "Date: Tue, 3 Jun 2003 10:00:00 +0200\n\n");
        QCOMPARE(m.Subject.size(), 11);
        QCOMPARE(m.Subject[3], QChar(0xE9));
        QCOMPARE(m.Subject[4], u' ');
        QCOMPARE(m.FromText(), u"\"Bloggs, Joe\" <joe@example.com>"_s);
        QCOMPARE(m.RecipientsText(), u"Ann Smith <ann@x.org>, bob@y.org"_s);
        QCOMPARE(addressListText(m.CCList), u"cc@z.org"_s);
        QCOMPARE(addressListText(m.ReplyTo), u"r1@x.org, R2 <r2@x.org>"_s);
        QCOMPARE(m.Sender.text(), u"Sender <s@x.org>"_s);
        QCOMPARE(m.ReceiptRecipient.text(), u"rr@x.org"_s);
        QCOMPARE(m.Organization, u"Caf\u00e9 Inc"_s);
        QCOMPARE(m.References, u"<a@b> <c@d>"_s);
        QCOMPARE(m.NewsGroups, (QStringList{u"comp.a"_s, u"comp.b"_s}));
        QCOMPARE(m.MsgId, u"<id@host>"_s);
        QCOMPARE(m.Priority, MessagePriority::Highest);
        QCOMPARE(m.ContentType, u"text/plain; charset=\"ISO-8859-1\"; format=flowed"_s);
        QCOMPARE(m.CharSet, u"ISO-8859-1"_s);
        QCOMPARE(m.ContentTransferEncoding, u"8bit"_s);
        QCOMPARE(m.ContentDisposition, u"inline"_s);
        QCOMPARE(m.Date.toUTC(), QDateTime(QDate(2003, 6, 3), QTime(8, 0), QTimeZone::utc()));
    }

    void parseDefaults() {
        const MailMessage m = read("X-Other: 1\n\n");
        QVERIFY(m.Subject.isEmpty());
        QVERIFY(m.FromText().isEmpty());
        QVERIFY(m.RecipientsText().isEmpty());
        QVERIFY(m.Date.isNull()); // the zero date
        QCOMPARE(m.Priority, MessagePriority::Normal);
        QCOMPARE(MailMessage::ZeroDate().date(), QDate(1899, 12, 30));
    }

    void utf8SubjectDecoded() {
        // Encoded words in UTF-8 are decoded too, so black-listed words inside them match.
        const MailMessage m = read("Subject: =?UTF-8?Q?Caf=C3=A9_ouvert?=\n\n");
        QCOMPARE(m.Subject, u"Caf\u00e9 ouvert"_s);
    }

    void priority_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("level");
        QTest::newRow("X-Priority 5") << QByteArray("X-Priority: 5\n") << 5;
        QTest::newRow("Priority wins") << QByteArray("Priority: urgent\nX-Priority: 5\n") << 2;
        QTest::newRow("non-urgent") << QByteArray("Priority: non-urgent\n") << 4;
        QTest::newRow("garbage") << QByteArray("X-Priority: high-ish\n") << 3;
    }
    void priority() {
        QFETCH(QByteArray, header);
        QFETCH(int, level);
        QCOMPARE(int(read(header + "\n").Priority), level);
    }

    void outsideAddressReadsToTheEnd() {
        ListLineSource source = ListLineSource::fromText(
            "From: Joe <joe@x.org>@evil.org\r\nSubject: still parsed\r\n\r\nbody\r\n.\r\nNEXT\r\n");
        MailMessage m;
        try {
            m.ReadMessage(source);
            QFAIL("no error");
        } catch (const DataError &e) {
            QCOMPARE(e.message(), u"@ Outside address"_s);
        }
        // The connection stays in step: the message was read up to its end line.
        QCOMPARE(source.remaining(), 1);
        QCOMPARE(m.Subject, u"still parsed"_s);
        QCOMPARE(m.Body, QList<QByteArray>{"body"});
        // The sender is read leniently, so the lists, the rules and a bounce see it.
        QCOMPARE(m.FromText(), u"Joe <joe@x.org>"_s);
    }

    void damageOutranksARejectedAddress() {
        // A rejected address must not hide that the message itself is damaged.
        ListLineSource source = ListLineSource::fromText("From: Joe <joe@x.org>@evil.org\r\n\r\n" +
                                                         QByteArray(20000, 'x') + "\r\n.\r\n");
        MailMessage m;
        try {
            m.ReadMessage(source);
            QFAIL("no error");
        } catch (const AddressError &) {
            QFAIL("the over-long line was not reported");
        } catch (const DataError &e) {
            QCOMPARE(e.message(), u"Max line length exceeded."_s);
        }
        QCOMPARE(m.FromText(), u"Joe <joe@x.org>"_s);
    }

    // --- reading a fetched message ---------------------------------------------------------

    void readForms_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QList<QByteArray>>("headerLines");
        QTest::addColumn<QList<QByteArray>>("body");
        QTest::newRow("TOP n 0") << QByteArray("Subject: a\r\n\r\n.\r\n")
                                 << QList<QByteArray>{"Subject: a"} << QList<QByteArray>{};
        QTest::newRow("header ends at the end line")
            << QByteArray("Subject: a\r\n.\r\n") << QList<QByteArray>{"Subject: a"}
            << QList<QByteArray>{};
        QTest::newRow("dot-unstuffing")
            << QByteArray("Subject: a\r\n\r\n..x\r\n..\r\n.y\r\n\r\n.\r\n")
            << QList<QByteArray>{"Subject: a"} << QList<QByteArray>{".x", ".", ".y", ""};
        QTest::newRow("no header") << QByteArray("\r\nonly body\r\n.\r\n") << QList<QByteArray>{}
                                   << QList<QByteArray>{"only body"};
        QTest::newRow("empty message")
            << QByteArray(".\r\n") << QList<QByteArray>{} << QList<QByteArray>{};
        QTest::newRow("single part QP stays as received")
            << QByteArray("Content-Type: text/plain\r\nContent-Transfer-Encoding: "
                          "quoted-printable\r\n\r\nCaf=E9 =\r\nbegin 644 x\r\n.\r\n")
            << QList<QByteArray>{"Content-Type: text/plain",
                                 "Content-Transfer-Encoding: quoted-printable"}
            << QList<QByteArray>{"Caf=E9 =", "begin 644 x"};
    }
    void readForms() {
        QFETCH(QByteArray, wire);
        QFETCH(QList<QByteArray>, headerLines);
        QFETCH(QList<QByteArray>, body);
        ListLineSource source = ListLineSource::fromText(wire + "after\r\n");
        MailMessage m;
        m.ReadMessage(source);
        QCOMPARE(m.HeaderLines, headerLines);
        QCOMPARE(m.Body, body);
        QVERIFY(m.MessageParts.isEmpty());
        QCOMPARE(source.remaining(), 1); // stopped at the end line
    }

    void truncatedSource() {
        ListLineSource source = ListLineSource::fromText("Subject: a\r\n\r\nline 1\r\n");
        MailMessage m;
        QVERIFY_THROWS_EXCEPTION(DataError, m.ReadMessage(source));
        QCOMPARE(m.Subject, u"a"_s);
        QCOMPARE(m.Body, QList<QByteArray>{"line 1"});
    }

    // --- MIME bodies -------------------------------------------------------------------------

    void mime_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<QList<QByteArray>>("body");

        QTest::newRow("text and base64 attachment")
            << QByteArray("Content-Type: multipart/mixed; boundary=\"b1\"\n\n"
                          "This is a multi-part message.\n"
                          "--b1\n"
                          "Content-Type: text/plain; charset=us-ascii\n\n"
                          "Hello\n"
                          "..dotted\n"
                          "\n"
                          "--b1\n"
                          "Content-Type: application/pdf; name=\"doc.pdf\"\n"
                          "Content-Transfer-Encoding: base64\n"
                          "Content-Disposition: attachment; filename=\"doc.pdf\"\n\n"
                          "JVBERi0x\n"
                          "LjQK\n"
                          "--b1--\n"
                          "epilogue\n")
            << QStringList{u"text text/plain Hello|.dotted|"_s, u"file doc.pdf %PDF-1.4\\x0a"_s}
            << QList<QByteArray>{"This is a multi-part message.", "epilogue"};

        QTest::newRow("nested alternative")
            << QByteArray("Content-Type: multipart/mixed; boundary=outer\n\n"
                          "--outer\n"
                          "Content-Type: multipart/alternative; boundary=\"inner\"\n\n"
                          "inner preamble is dropped\n"
                          "--inner\n"
                          "Content-Type: text/plain; charset=utf-8\n"
                          "Content-Transfer-Encoding: quoted-printable\n\n"
                          "Caf=C3=A9 soft=\n"
                          "break=20\n"
                          "--inner\n"
                          "Content-Type: text/html\n"
                          "Content-Transfer-Encoding: base64\n\n"
                          "PGI+aGk8L2I+DQpsaW5lMg==\n"
                          "--inner--\n"
                          "inner epilogue is dropped\n"
                          "--outer\n"
                          "Content-Type: image/png\n"
                          "Content-Transfer-Encoding: base64\n\n"
                          "iVBO\n"
                          "--outer--\n")
            << QStringList{u"text text/plain Caf\\xc3\\xa9 softbreak "_s,
                           u"text text/html <b>hi</b>|line2"_s, u"file  \\x89PN"_s}
            << QList<QByteArray>{};

        QTest::newRow("outer boundary closes inner parts")
            << QByteArray("Content-Type: multipart/mixed; boundary=A\n\n"
                          "--A\n"
                          "Content-Type: multipart/alternative; boundary=B\n\n"
                          "--B\n\n"
                          "one\n"
                          "--A  \n"
                          "Content-Type: text/plain\n\n"
                          "two\n"
                          "--A--\n")
            << QStringList{u"text text/plain one"_s, u"text text/plain two"_s}
            << QList<QByteArray>{};

        QTest::newRow("unclosed multipart ends at the end line")
            << QByteArray("Content-Type: multipart/mixed; boundary=A\n\n--A\n\nlast\n")
            << QStringList{u"text text/plain last"_s} << QList<QByteArray>{};

        QTest::newRow("part with header only")
            << QByteArray("Content-Type: multipart/mixed; boundary=A\n\n--A\n"
                          "Content-Type: text/plain\n--A--\n")
            << QStringList{u"text text/plain "_s} << QList<QByteArray>{};

        QTest::newRow("boundary-like lines are content")
            << QByteArray("Content-Type: multipart/mixed; boundary=A\n\n--A\n\n"
                          "--AB\n--A-x\n- --A\n--A--\n")
            << QStringList{u"text text/plain --AB|--A-x|- --A"_s} << QList<QByteArray>{};

        QTest::newRow("file names: RFC 2231 and encoded words")
            << QByteArray("Content-Type: multipart/mixed; boundary=A\n\n"
                          "--A\n"
                          "Content-Type: application/octet-stream\n"
                          "Content-Disposition: attachment;\n"
                          " filename*0*=UTF-8''%E2%82%AC;\n"
                          " filename*1=\" rates.txt\"\n\n"
                          "x\n"
                          "--A\n"
                          "Content-Type: text/plain; name=\"=?utf-8?B?w6kudHh0?=\"\n\n"
                          "y\n"
                          "--A--\n")
            << QStringList{u"file \u20ac rates.txt x"_s, u"file \u00e9.txt y"_s}
            << QList<QByteArray>{};

        QTest::newRow("identity and QP attachments keep their line breaks")
            << QByteArray("Content-Type: multipart/mixed; boundary=A\n\n"
                          "--A\n"
                          "Content-Type: application/x-thing\n\n"
                          "l1\nl2\n"
                          "--A\n"
                          "Content-Type: application/x-thing\n"
                          "Content-Transfer-Encoding: quoted-printable\n\n"
                          "q1=\n=00\nq2\n"
                          "--A--\n")
            << QStringList{u"file  l1\\x0d\\x0al2"_s, u"file  q1\\x00\\x0d\\x0aq2"_s}
            << QList<QByteArray>{};

        QTest::newRow("uuencoded block in plain text")
            << QByteArray("Subject: uu\n\n"
                          "see attached\n"
                          "begin 644 cat.txt\n"
                          "#8V%T\n"
                          "`\n"
                          "end\n"
                          "bye\n")
            << QStringList{u"file cat.txt cat"_s} << QList<QByteArray>{"see attached", "bye"};

        QTest::newRow("broken uuencode block ends early")
            << QByteArray("\nbegin 644 a.bin\n#8V%T\nnot uu data at all\n")
            << QStringList{u"file a.bin cat"_s} << QList<QByteArray>{"not uu data at all"};

        QTest::newRow("begin line in HTML is text")
            << QByteArray("Content-Type: text/html\n\nbegin 644 a.bin\n#8V%T\nend\n")
            << QStringList{} << QList<QByteArray>{"begin 644 a.bin", "#8V%T", "end"};

        QTest::newRow("x-uuencode part")
            << QByteArray("Content-Type: multipart/mixed; boundary=A\n\n--A\n"
                          "Content-Type: application/octet-stream; name=c.txt\n"
                          "Content-Transfer-Encoding: x-uuencode\n\n"
                          "begin 600 c.txt\n#8V%T\n`\nend\n--A--\n")
            << QStringList{u"file c.txt cat"_s} << QList<QByteArray>{};

        QTest::newRow("multipart without boundary is single part")
            << QByteArray("Content-Type: multipart/mixed\n\n--A\n\nx\n") << QStringList{}
            << QList<QByteArray>{"--A", "", "x"};
    }
    void mime() {
        QFETCH(QByteArray, wire);
        QFETCH(QStringList, parts);
        QFETCH(QList<QByteArray>, body);
        const MailMessage m = read(wire);
        QCOMPARE(describe(m), parts);
        QCOMPARE(m.Body, body);
    }

    void partHeadersKept() {
        const MailMessage m = read("Content-Type: multipart/related; boundary=A\n\n--A\n"
                                   "Content-Type: image/gif\n"
                                   "Content-ID: <img1@x>\n"
                                   "Content-Description: a\n picture\n"
                                   "Content-Transfer-Encoding: base64\n\nR0lG\n--A--\n");
        QCOMPARE(m.MessageParts.size(), 1);
        QCOMPARE(m.MessageParts[0].ExtraHeaderLines,
                 (QList<QByteArray>{"Content-ID: <img1@x>", "Content-Description: a", " picture"}));
        // They go back out with the part.
        const MailMessage back = roundTrip(m);
        QCOMPARE(back.MessageParts[0].ExtraHeaderLines, m.MessageParts[0].ExtraHeaderLines);
    }

    void temporaryFilesRemoved() {
        const QByteArray wire = "Content-Type: multipart/mixed; boundary=A\n\n--A\n"
                                "Content-Type: application/octet-stream\n\nabc\n--A--\n";
        QString path;
        {
            MailMessage m = read(wire);
            path = m.MessageParts.value(0).StoredFile();
            QVERIFY(QFileInfo::exists(path));
            QCOMPARE(m.MessageParts[0].ContentSize(), 3);
            MailMessage copy = m;
            m.ClearMessage();
            QVERIFY(m.MessageParts.isEmpty());
            QVERIFY(QFileInfo::exists(path)); // the copy still holds it
            QCOMPARE(readFile(copy.MessageParts[0].StoredFile()), QByteArray("abc"));
        }
        QVERIFY(!QFileInfo::exists(path));
        MailMessage m = read(wire);
        path = m.MessageParts[0].StoredFile();
        m.ClearMessage();
        QVERIFY(!QFileInfo::exists(path));
    }

    // --- limits ----------------------------------------------------------------------------

    void limits_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("error");
        QByteArray manyHeaders;
        for (int i = 0; i <= MessageLimits::MaxHeaderLines; ++i)
            manyHeaders += "X-N: " + QByteArray::number(i) + "\n";
        QTest::newRow("header lines") << manyHeaders + "\nbody\n"
                                      << u"The message has more than 10000 header lines."_s;
        QByteArray bigHeader;
        for (int i = 0; i < 300; ++i)
            bigHeader += "X-Big: " + QByteArray(16000, 'x') + "\n";
        QTest::newRow("header bytes") << bigHeader + "\n"
                                      << u"The message header is larger than 4194304 bytes."_s;
        QByteArray deep = "Content-Type: multipart/mixed; boundary=b0\n\n";
        for (int i = 1; i <= MessageLimits::MaxMimeDepth + 1; ++i)
            deep += "--b" + QByteArray::number(i - 1) +
                    "\nContent-Type: multipart/mixed; boundary=b" + QByteArray::number(i) + "\n\n";
        QTest::newRow("nesting") << deep
                                 << u"The message nests MIME parts more than 32 levels deep."_s;
        QByteArray parts = "Content-Type: multipart/mixed; boundary=A\n\n";
        for (int i = 0; i <= MessageLimits::MaxParts; ++i)
            parts += "--A\n\nx\n";
        QTest::newRow("parts") << parts << u"The message has more than 10000 parts."_s;
        QByteArray partHeaders = "Content-Type: multipart/mixed; boundary=A\n\n";
        for (int i = 0; i < 11; ++i) {
            partHeaders += "--A\n";
            for (int k = 0; k < 9999; ++k)
                partHeaders += "X:\n";
            partHeaders += "\nx\n";
        }
        QTest::newRow("part header lines in all")
            << partHeaders << u"The message's parts have more than 100000 header lines in all."_s;
        QTest::newRow("line length")
            << QByteArray("\n") + QByteArray(MessageLimits::MaxLineLength + 1, 'x') + "\n"
            << u"Max line length exceeded."_s;
    }
    void limits() {
        QFETCH(QByteArray, wire);
        QFETCH(QString, error);
        ListLineSource source = ListLineSource::fromText(wire + ".\r\nNEXT\r\n");
        MailMessage m;
        try {
            m.ReadMessage(source);
            QFAIL("no error");
        } catch (const DataError &e) {
            QCOMPARE(e.message(), error);
        }
        QCOMPARE(source.remaining(), 1); // read up to the end line all the same
    }

    void textLinesAreBounded_data() {
        QTest::addColumn<QList<QByteArray>>("before"); // lines before the repeated one
        QTest::addColumn<QByteArray>("repeated");
        QTest::newRow("single-part body") << QList<QByteArray>{"Subject: s", ""} << QByteArray("a");
        QTest::newRow("text part")
            << QList<QByteArray>{"Content-Type: multipart/mixed; boundary=B", "", "--B", ""}
            << QByteArray("");
        QTest::newRow("quoted-printable text part")
            << QList<QByteArray>{"Content-Type: multipart/mixed; boundary=B", "", "--B",
                                 "Content-Transfer-Encoding: quoted-printable", ""}
            << QByteArray("=0A=0A");
    }
    void textLinesAreBounded() {
        // Millions of short lines: the read stops holding them at the limit, with an error,
        // and still reads on to the end line.
        QFETCH(QList<QByteArray>, before);
        QFETCH(QByteArray, repeated);
        class Repeating final : public LineSource {
        public:
            QList<QByteArray> head;
            QByteArray line;
            qsizetype count = 0;
            qsizetype served = 0;
            bool readLine(QByteArray &out) override {
                const qsizetype i = served++;
                if (i < head.size())
                    out = head[i];
                else if (i < head.size() + count)
                    out = line;
                else if (i == head.size() + count)
                    out = ".";
                else
                    return false;
                return true;
            }
        } source;
        source.head = before;
        source.line = repeated;
        source.count = MessageLimits::MaxTextLines + 10;
        MailMessage m;
        try {
            m.ReadMessage(source);
            QFAIL("no error");
        } catch (const DataError &e) {
            QCOMPARE(e.message(), u"The message has more than 4000000 lines of text."_s);
        }
        QCOMPARE(source.served, before.size() + source.count + 1);
        qsizetype held = m.Body.size();
        for (const MessagePart &p : m.MessageParts)
            held += p.Lines.size();
        QCOMPARE(held, MessageLimits::MaxTextLines);
    }

    // --- writing ---------------------------------------------------------------------------

    void writeComposed() {
        // The one-shot send's message: From, Subject, To, Date, X-Priority, then the body.
        MailMessage m;
        m.From = MailAddress::parse(u"Mailer <mailer@x.org>");
        m.Subject = u"Delivery failure"_s;
        m.Recipients = parseAddressList(u"a@y.org, B <b@y.org>");
        m.Body = {"line 1", ".", ".starts with a dot", ""};
        m.ExtraHeaders = {"X-Extra: 1"};
        const QList<QByteArray> lines = written(m);
        const QList<QByteArray> header = headerOf(lines);
        QCOMPARE(header.size(), 6);
        QCOMPARE(header[0], QByteArray("From: Mailer <mailer@x.org>"));
        QCOMPARE(header[1], QByteArray("Subject: Delivery failure"));
        QCOMPARE(header[2], QByteArray("To: a@y.org, B <b@y.org>"));
        QVERIFY(header[3].startsWith("Date: "));
        const QDateTime date = parseMailDate(QString::fromLatin1(header[3].mid(6)));
        QVERIFY(qAbs(date.secsTo(QDateTime::currentDateTime())) < 120);
        QCOMPARE(header[4], QByteArray("X-Priority: 3"));
        QCOMPARE(header[5], QByteArray("X-Extra: 1"));
        QCOMPARE(bodyOf(lines), (QList<QByteArray>{"line 1", "..", "..starts with a dot", ""}));
    }

    void writeReplacesInPlace() {
        MailMessage m = read("Received: x\n"
                             "Subject: old\n  continued\n"
                             "X-Keep: 1\n"
                             "To: a@x.org\n"
                             "Cc: c@x.org\n"
                             "subject: second stays\n"
                             "MIME-Version: 1.0\n"
                             "Content-Type: text/html; charset=utf-8\n"
                             "Date: Tue, 3 Jun 2003 10:00:00 +0200\n"
                             "X-Priority: 1 (Highest)\n\nbody\n");
        m.Subject = u"new"_s;
        m.CCList.clear();
        m.Organization = u"Org"_s;
        const QList<QByteArray> header = headerOf(written(m));
        QCOMPARE(header[0], QByteArray("Received: x"));
        QCOMPARE(header[1], QByteArray("Subject: new"));
        QCOMPARE(header[2], QByteArray("X-Keep: 1"));
        QCOMPARE(header[3], QByteArray("To: a@x.org"));
        QCOMPARE(header[4], QByteArray("subject: second stays")); // Cc removed
        QCOMPARE(header[5], QByteArray("MIME-Version: 1.0"));     // kept for a MIME message
        QCOMPARE(header[6], QByteArray("Content-Type: text/html; charset=utf-8"));
        QVERIFY(header[7].startsWith("Date: "));
        QCOMPARE(header[8], QByteArray("X-Priority: 1"));
        QCOMPARE(header[9], QByteArray("Organization: Org")); // appended
        QCOMPARE(header.size(), 10);
        QCOMPARE(parseMailDate(QString::fromLatin1(header[7].mid(6))), m.Date);
    }

    void writeEncodesEightBit() {
        MailMessage m;
        m.From = MailAddress{u"J\u00f6rg, M."_s, u"j@x.de"_s};
        m.Subject = u"Gr\u00fc\u00dfe aus K\u00f6ln und viele weitere W\u00f6rter, damit die "
                    u"Zeile gefaltet werden muss"_s;
        m.Recipients = {MailAddress{u"\u00c5se"_s, u"a@x.no"_s}};
        m.Organization = u"Caf\u00e9"_s;
        const QList<QByteArray> lines = written(m);
        for (const QByteArray &l : lines) {
            QVERIFY2(l.size() <= 78, l.constData());
            for (char c : l)
                QVERIFY2(static_cast<unsigned char>(c) < 0x80, l.constData());
        }
        const MailMessage back = roundTrip(m);
        QCOMPARE(back.Subject, m.Subject);
        QCOMPARE(back.From, m.From);
        QCOMPARE(back.Recipients, m.Recipients);
        QCOMPARE(back.Organization, m.Organization);
    }

    void writtenAddressesReadBack_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::newRow("double blank in name") << u"Angles  Puglisi"_s << u"a@x.org"_s;
        QTest::newRow("tab in name") << u"A\tB"_s << u"a@x.org"_s;
        QTest::newRow("specials in bare address")
            << u""_s << u"undisclosed-recipients:@webnote.net;"_s;
        QTest::newRow("encoded-word look-alike name") << u"=?utf-8?Q?x?="_s << u"a@x.org"_s;
        QTest::newRow("empty group") << u"undisclosed-recipients"_s << u""_s;
        QTest::newRow("non-ASCII local part") << u""_s << u"j\u00f6rg@x.de"_s;
    }
    void writtenAddressesReadBack() {
        QFETCH(QString, name);
        QFETCH(QString, address);
        MailMessage m;
        m.From = MailAddress{name, address};
        m.Recipients = {m.From, MailAddress{QString(), u"second@x.org"_s}};
        const MailMessage back = roundTrip(m);
        QCOMPARE(back.From, m.From);
        QCOMPARE(back.Recipients, m.Recipients);
        QCOMPARE(back.FromText(), m.FromText());
    }

    void writeNeverInjectsLines() {
        MailMessage m;
        m.Subject = u"hi\r\nBcc: victim@x.org"_s;
        m.From = MailAddress{u"A\nB"_s, u"a@x.org\r\nX-Evil: 1"_s};
        m.ExtraHeaders = {"X-A: 1\r\nX-Evil: 2"};
        for (const QByteArray &l : headerOf(written(m))) {
            QVERIFY(!l.contains('\r') && !l.contains('\n'));
            QVERIFY2(!l.startsWith("Bcc") && !l.startsWith("X-Evil"), l.constData());
        }
        QCOMPARE(roundTrip(m).Subject, m.Subject);
    }

    void writeLongFieldsFolded() {
        MailMessage m;
        for (int i = 0; i < 200; ++i)
            m.Recipients.append(MailAddress{QString(), u"user%1@example.com"_s.arg(i)});
        m.Subject = u"word "_s.repeated(100).trimmed();
        m.References = u"<a@b>"_s.repeated(400); // one token: cut hard
        const QList<QByteArray> lines = written(m);
        for (const QByteArray &l : lines)
            QVERIFY(l.size() <= 998);
        const MailMessage back = roundTrip(m);
        QCOMPARE(back.RecipientsText(), m.RecipientsText());
        QCOMPARE(back.Subject, m.Subject);
    }

    void writeDate_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("now");
        QTest::addColumn<QByteArray>("kept");
        QTest::newRow("no Date: the time of writing")
            << QByteArray("Subject: a\n") << true << QByteArray();
        QTest::newRow("unreadable Date kept as received")
            << QByteArray("Date: sometime last week\n") << false
            << QByteArray("Date: sometime last week");
    }
    void writeDate() {
        QFETCH(QByteArray, header);
        QFETCH(bool, now);
        QFETCH(QByteArray, kept);
        const MailMessage m = read(header + "\n");
        QVERIFY(m.Date.isNull());
        const QList<QByteArray> lines = headerOf(written(m));
        const qsizetype at =
            std::find_if(lines.begin(), lines.end(),
                         [](const QByteArray &l) { return l.startsWith("Date:"); }) -
            lines.begin();
        QVERIFY(at < lines.size());
        if (now)
            QVERIFY(qAbs(parseMailDate(QString::fromLatin1(lines[at].mid(6)))
                             .secsTo(QDateTime::currentDateTime())) < 120);
        else
            QCOMPARE(lines[at], kept);
    }

    void writeWithAttachments() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"bleml.dat"_s);
        QByteArray content;
        for (int i = 0; i < 1000; ++i)
            content += char(i * 7);
        QVERIFY(writeFile(path, content));
        MailMessage m;
        m.From = MailAddress{u"Black Lists"_s, u"me@x.org"_s};
        m.Recipients = {MailAddress{QString(), u"lists@publisher.example"_s}};
        m.Subject = u"Black List Files"_s;
        m.Body = {"Black List Files"};
        m.AddAttachment(path);
        const QList<QByteArray> lines = written(m);
        const QList<QByteArray> header = headerOf(lines);
        const QString type = read(joinLines(header) + "\r\n").ContentType;
        QVERIFY2(type.startsWith(u"multipart/mixed; boundary=\""_s), qPrintable(type));
        QVERIFY(header.contains("MIME-Version: 1.0"));
        const QByteArray text = joinLines(bodyOf(lines));
        QVERIFY(text.contains("Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
                              "Black List Files\r\n"));
        QVERIFY(text.contains("Content-Type: application/octet-stream; name=\"bleml.dat\"\r\n"
                              "Content-Transfer-Encoding: base64\r\n"
                              "Content-Disposition: attachment; filename=\"bleml.dat\"\r\n"));
        const MailMessage back = roundTrip(m);
        QCOMPARE(back.Body, QList<QByteArray>{"This is a multi-part message in MIME format."});
        QCOMPARE(describe(back), (QStringList{u"text text/plain Black List Files"_s,
                                              u"file bleml.dat "_s + escaped(content)}));
    }

    void writeStructure_data() {
        QTest::addColumn<int>("texts");
        QTest::addColumn<bool>("attachment");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("text parts only: alternative")
            << 2 << false << QByteArray("multipart/alternative")
            << QStringList{u"text text/plain body"_s, u"text text/plain t0"_s,
                           u"text text/html t1"_s};
        QTest::newRow("one text part and a file")
            << 1 << true << QByteArray("multipart/mixed")
            << QStringList{u"text text/plain body"_s, u"text text/plain t0"_s, u"file f.bin F"_s};
        QTest::newRow("two text parts and a file: nested alternative")
            << 2 << true << QByteArray("multipart/mixed")
            << QStringList{u"text text/plain body"_s, u"text text/plain t0"_s,
                           u"text text/html t1"_s, u"file f.bin F"_s};
    }
    void writeStructure() {
        QFETCH(int, texts);
        QFETCH(bool, attachment);
        QFETCH(QByteArray, type);
        QFETCH(QStringList, parts);
        QTemporaryDir dir;
        MailMessage m;
        m.Body = {"body"};
        for (int i = 0; i < texts; ++i) {
            MessagePart p;
            p.ContentType = i == 0 ? u"text/plain; charset=utf-8"_s : u"text/html"_s;
            p.Lines = {"t" + QByteArray::number(i)};
            m.MessageParts.append(p);
        }
        if (attachment) {
            QVERIFY(writeFile(dir.filePath(u"f.bin"_s), "F"));
            m.AddAttachment(dir.filePath(u"f.bin"_s));
        }
        const QList<QByteArray> lines = written(m);
        QVERIFY(headerOf(lines).last().startsWith("X-Priority"));
        bool found = false;
        for (const QByteArray &l : headerOf(lines))
            found = found || l.startsWith("Content-Type: " + type + ';');
        QVERIFY(found);
        const bool nested = joinLines(lines).contains("Content-Type: multipart/alternative");
        QCOMPARE(nested, texts >= 2);
        QCOMPARE(describe(roundTrip(m)), parts);
    }

    void boundaryAvoidsContent() {
        // A body that holds lines starting like our boundaries still reads back intact.
        MailMessage m;
        m.Body = {"--=_corvane_", "--=_corvane_0123456789abcdef0123456789abcdef--", "--"};
        MessagePart p;
        p.ContentTransferEncoding = u"8bit"_s;
        p.Lines = m.Body;
        m.MessageParts.append(p);
        const MailMessage back = roundTrip(m);
        QCOMPARE(back.MessageParts.size(), 2);
        QCOMPARE(back.MessageParts[0].Lines, m.Body);
        QCOMPARE(back.MessageParts[1].Lines, m.Body);
    }

    void roundTripReadMessage() {
        const QByteArray wire =
            "From: A <a@x.org>\nTo: b@y.org\nSubject: mixed\n"
            "Content-Type: multipart/mixed; boundary=\"old\"\nMIME-Version: 1.0\n\n"
            "preamble\n--old\n"
            "Content-Type: text/plain; charset=iso-8859-1\n"
            "Content-Transfer-Encoding: quoted-printable\n\n"
            "Caf=E9 =3D ok\n.leading dot\ntrailing blank \n"
            "--old\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n\n"
            "aGVsbG8NCndvcmxkDQo=\n"
            "--old\nContent-Type: image/gif; name=\"a b.gif\"\n"
            "Content-Transfer-Encoding: base64\n\nR0lGODlh\n--old--\n";
        const MailMessage m = read(wire);
        const MailMessage back = roundTrip(m);
        QCOMPARE(describe(back), describe(m));
        QCOMPARE(back.Body, m.Body);
        QCOMPARE(back.Subject, m.Subject);
        QCOMPARE(back.FromText(), m.FromText());
        QCOMPARE(back.MessageParts[0].ContentType, m.MessageParts[0].ContentType);
        // The old boundary is gone from the header.
        QVERIFY(!back.HeaderText().contains("\"old\""));
    }

    void missingAttachmentFile() {
        MailMessage m;
        m.AddAttachment(u"/nonexistent/dir/file.dat"_s);
        ListLineSink sink;
        QVERIFY_THROWS_EXCEPTION(FileError, m.WriteMessage(sink));
    }

    // --- files -----------------------------------------------------------------------------

    void fileRoundTrip() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"msg.eml"_s);
        const MailMessage m = read("From: \"Bloggs, Joe\" <joe@example.com>\n"
                                   "To: Ann <ann@x.org>, bob@y.org\n"
                                   "Subject: =?iso-8859-1?Q?Caf=E9?= news\n"
                                   "Date: Tue, 3 Jun 2003 10:00:00 +0200\n\n"
                                   "..x\nline\n");
        QCOMPARE(m.Body.first(), QByteArray(".x"));
        m.SaveMessageFile(path);
        const QByteArray bytes = readFile(path);
        QVERIFY(bytes.endsWith("\r\nline\r\n.\r\n"));
        QVERIFY(bytes.contains("\r\n\r\n..x\r\n"));
        MailMessage back;
        back.Subject = u"stale"_s;
        back.LoadMessageFile(path);
        QCOMPARE(back.Subject, m.Subject);
        QCOMPARE(back.FromText(), m.FromText());
        QCOMPARE(back.RecipientsText(), m.RecipientsText());
        QCOMPARE(back.Date, m.Date);
        QCOMPARE(back.Body, m.Body);
    }

    void loadErrors_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error"); // empty: loads
        QTest::newRow("last line is the end line")
            << QByteArray("Subject: a\r\n\r\nb\r\n.\r\n") << QString();
        QTest::newRow("end line without line break")
            << QByteArray("Subject: a\r\n\r\nb\r\n.") << QString();
        QTest::newRow("LF line ends") << QByteArray("Subject: a\n\nb\n.\n") << QString();
        QTest::newRow("no end line") << QByteArray("Subject: a\r\n\r\nb\r\n")
                                     << u"The message ends before its end line \".\"."_s;
        QTest::newRow("empty file")
            << QByteArray() << u"The message ends before its end line \".\"."_s;
        QTest::newRow("longest line") << "\r\n" + QByteArray(16384, 'x') + "\r\n.\r\n" << QString();
        QTest::newRow("line too long") << "\r\n" + QByteArray(16385, 'x') + "\r\n.\r\n"
                                       << u"Max line length exceeded."_s;
        QTest::newRow("long last line")
            << "\r\n" + QByteArray(20000, 'x') << u"Max line length exceeded."_s;
    }
    void loadErrors() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"m.eml"_s);
        QVERIFY(writeFile(path, bytes));
        MailMessage m;
        try {
            m.LoadMessageFile(path);
            QVERIFY2(error.isEmpty(), "no error");
        } catch (const Error &e) {
            QCOMPARE(e.message(), error);
        }
    }

    void loadMissingFile() {
        MailMessage m;
        m.Subject = u"kept"_s;
        const QString path = u"/nonexistent/archive/x.eml"_s;
        try {
            m.LoadMessageFile(path);
            QFAIL("no error");
        } catch (const FileError &e) {
            QCOMPARE(e.message(), u"Cannot load message from file "_s + path);
        }
    }

    void saveErrors() {
        QTemporaryDir dir;
        MailMessage m;
        m.Subject = u"x"_s;
        QVERIFY_THROWS_EXCEPTION(FileError, m.SaveMessageFile(dir.filePath(u"no/such/dir.eml"_s)));
        // A failed write leaves the file that stood there untouched.
        const QString path = dir.filePath(u"keep.eml"_s);
        QVERIFY(writeFile(path, "old"));
        m.AddAttachment(dir.filePath(u"missing.bin"_s));
        QVERIFY_THROWS_EXCEPTION(FileError, m.SaveMessageFile(path));
        QCOMPARE(readFile(path), QByteArray("old"));
    }

    void deviceSinkReportsErrors() {
        FailingDevice device(10);
        DeviceLineSink sink(device);
        sink.writeLine("12345");
        try {
            sink.writeLine("67890");
            QFAIL("no error");
        } catch (const FileError &e) {
            QCOMPARE(e.message(), u"No space left on device"_s);
        }
    }
};

QTEST_GUILESS_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
