// The log window: the log and the total as start-up reads them, "Clear Log", text typed into
// the memo, "Close", and "Print Log" checked by printing to a PDF file and reading its text
// back with pdftotext (poppler-utils).

#include "../uitestsupport.h"

#include "core/errors.h"
#include "testsupport.h"
#include "ui/records/deletionlogwindow.h"
#include "ui/records/logprinter.h"
#include "ui/settings/tfmsetup.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cmath>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

// Prints into a PDF file, or fails as the printing system would.
class PdfPrinters final : public PrinterSource {
public:
    QString path;        // where the document goes
    QString failureText; // when set: there is no printer, and this is what is said
    std::unique_ptr<QPrinter> defaultPrinter() override {
        if (!failureText.isEmpty())
            throw Error(failureText);
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(path);
        printer->setPageSize(QPageSize(QPageSize::A4));
        return printer;
    }
};

// One word of a PDF page as pdftotext -bbox reports it, in points from the page's top left.
struct Word {
    int page;
    double xMin, yMin, xMax;
    QString text;
};

QString runTool(const QString &tool, const QStringList &arguments) {
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

QList<Word> pdfWords(const QString &pdf) {
    const QString html = runTool(u"pdftotext"_s, {u"-bbox"_s, pdf, u"-"_s});
    QList<Word> words;
    int page = 0;
    static const QRegularExpression pattern(
        uR"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="[\d.]+">([^<]*)</word>)re"_s);
    for (const QRegularExpressionMatch &m : pattern.globalMatch(html)) {
        if (m.captured(0).startsWith(u"<page"_s)) {
            ++page;
            continue;
        }
        words.append({page, m.captured(1).toDouble(), m.captured(2).toDouble(),
                      m.captured(3).toDouble(), m.captured(4)});
    }
    return words;
}

const Word *findWord(const QList<Word> &words, const QString &text) {
    for (const Word &w : words)
        if (w.text == text)
            return &w;
    return nullptr;
}

} // namespace

class TestLogWindow final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;
    PdfPrinters m_printers;

    TfrmMain *main() { return m_run->main(); }
    DeletionLogWindow *logWindow() { return m_run->shell.logWindow(); }

    // Starts the program on a data directory holding the given log and total.
    void start(const QByteArray &logFile, const QByteArray &total) {
        if (!logFile.isNull())
            QVERIFY(writeFile(m_dir->filePath(u"logfile.log"_s), logFile));
        if (!total.isNull())
            QVERIFY(writeFile(m_dir->filePath(u"Settings.ini"_s),
                              "[Count]\r\ndeletecount=" + total + "\r\n"));
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        logWindow()->setPrinterSource(m_printers);
        // The log window opens from the options window's link.
        QVERIFY(main()->Options1->isEnabled());
        main()->Options1->trigger();
        TfmSetup *setup = m_run->shell.optionsWindow();
        QVERIFY(setup->isVisible());
        QTest::mouseClick(setup->SpeedButton1, Qt::LeftButton);
        QVERIFY(logWindow()->isVisible());
    }

    // Closes the program; the shutdown writes the log and the settings.
    void closeProgram() {
        QVERIFY(main()->close());
        QCOMPARE(m_run->prompts.takeTexts(), QStringList());
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_printers.path = m_dir->filePath(u"printed.pdf"_s);
        m_printers.failureText.clear();
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            main()->close();
        m_run.reset();
    }

    void layout() {
        start({}, {});
        DeletionLogWindow *w = logWindow();
        QCOMPARE(w->windowTitle(), u"Log File"_s);
        QCOMPARE(w->totalCaption->text(), u"Total of email deleted:"_s);
        const QList<QPushButton *> buttons = {w->clearLogButton, w->printLogButton, w->closeButton};
        const QStringList captions = {u"Clear Log"_s, u"Print Log"_s, u"Close"_s};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(buttons[i]->text(), captions[i]);
            QCOMPARE(buttons[i]->size(), QSize(113, 25));
        }
        QVERIFY(!w->logText->isReadOnly());
    }

    void startUp_data() {
        QTest::addColumn<QByteArray>("logFile");
        QTest::addColumn<QByteArray>("total");
        QTest::addColumn<QString>("memo");
        QTest::addColumn<QString>("shownTotal");

        QTest::newRow("first start") << QByteArray() << QByteArray() << QString() << u"0"_s;
        QTest::newRow("log and total") << QByteArray("line one\r\nline two\r\n\r\n")
                                       << QByteArray("41") << u"line one\nline two\n"_s << u"41"_s;
    }
    void startUp() {
        QFETCH(QByteArray, logFile);
        QFETCH(QByteArray, total);
        QFETCH(QString, memo);
        QFETCH(QString, shownTotal);
        start(logFile, total);
        QCOMPARE(logWindow()->logText->toPlainText(), memo);
        QCOMPARE(logWindow()->totalLabel->text(), shownTotal);
        // An untouched log is written back as it was read.
        closeProgram();
        QCOMPARE(readFile(m_dir->filePath(u"logfile.log"_s)),
                 logFile.isNull() ? QByteArray("") : logFile);
    }

    // Clearing asks first; No keeps the log.
    void clearLog() {
        start("line one\r\nline two\r\n", "41");
        m_run->prompts.answers << QMessageBox::No;
        QTest::mouseClick(logWindow()->clearLogButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts(),
                 QStringList{u"Clear the log and set the number of deleted messages to 0? This "
                             u"cannot be undone."_s});
        QCOMPARE(logWindow()->logText->toPlainText(), u"line one\nline two"_s);
        QCOMPARE(m_run->shell.log().DeleteCount, u"41"_s);
        m_run->prompts.answers << QMessageBox::Yes;
        QTest::mouseClick(logWindow()->clearLogButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts().size(), 1);
        QCOMPARE(logWindow()->logText->toPlainText(), QString());
        QCOMPARE(logWindow()->totalLabel->text(), u"0"_s);
        QCOMPARE(m_run->shell.log().DeleteCount, u"0"_s);
        // Nothing is written before the program ends.
        QCOMPARE(readFile(m_dir->filePath(u"logfile.log"_s)), "line one\r\nline two\r\n");
        closeProgram();
        QCOMPARE(readFile(m_dir->filePath(u"logfile.log"_s)), QByteArray(""));
        QVERIFY(readFile(m_dir->filePath(u"Settings.ini"_s)).contains("deletecount=0\r\n"));
    }

    void typedTextIsSaved() {
        start("line one\r\n", "3");
        QPlainTextEdit *memo = logWindow()->logText;
        memo->moveCursor(QTextCursor::End);
        QTest::keyClick(memo, Qt::Key_Return);
        QTest::keyClicks(memo, u"checked by hand "_s);
        // As an input method enters it.
        memo->textCursor().insertText(u"\u00e9"_s);
        QTest::mouseClick(logWindow()->closeButton, Qt::LeftButton);
        QVERIFY(!logWindow()->isVisible());
        closeProgram();
        QCOMPARE(readFile(m_dir->filePath(u"logfile.log"_s)),
                 QByteArray("line one\r\nchecked by hand \xe9\r\n"));
    }

    void printLog() {
        const QString pdftotext = QStandardPaths::findExecutable(u"pdftotext"_s);
        QVERIFY2(!pdftotext.isEmpty(), "pdftotext (package poppler-utils) is needed");
        QStringList lines;
        lines << u"L0"_s << u"\tT1"_s << u"\t\tT2"_s << u"x\tT3"_s;
        QStringList longLine;
        for (int i = 0; i < 60; ++i)
            longLine << u"word%1"_s.arg(i, 2, 10, QChar(u'0'));
        lines << longLine.join(u' ');
        for (int i = 1; i <= 150; ++i)
            lines << u"line%1"_s.arg(i);
        start(lines.join(u"\r\n"_s).toUtf8() + "\r\n", "0");
        QTest::mouseClick(logWindow()->printLogButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts(), QStringList());

        const QList<Word> words = pdfWords(m_printers.path);
        QVERIFY2(!words.isEmpty(), "the PDF holds no text");
        // Every line, in order, over more than one page.
        QStringList printed;
        for (const Word &w : words)
            printed << w.text;
        QCOMPARE(printed.join(u' '), lines.join(u' ').simplified());
        QVERIFY(words.last().page >= 2);

        // Each line starts at the left edge of the printable area.
        const Word *left = findWord(words, u"L0"_s);
        QVERIFY(left);
        for (const QString &text : {u"line1"_s, u"line150"_s, u"word00"_s})
            QVERIFY2(std::abs(findWord(words, text)->xMin - left->xMin) < 0.5, qPrintable(text));
        // Each page is filled to the same number of lines and the next page starts at the top.
        QCOMPARE(findWord(words, u"line150"_s)->page, words.last().page);
        const auto firstOfPage = [&](int page) {
            for (const Word &w : words)
                if (w.page == page)
                    return &w;
            return static_cast<const Word *>(nullptr);
        };
        QVERIFY(std::abs(firstOfPage(2)->yMin - left->yMin) < 0.5);

        // Tabs stop every eight average character widths.
        QPrinter reference(QPrinter::HighResolution);
        reference.setOutputFormat(QPrinter::PdfFormat);
        QFont font(QGuiApplication::font(), &reference);
        font.setPointSize(10);
        const double stop =
            8 * QFontMetricsF(font, &reference).averageCharWidth() * 72.0 / reference.resolution();
        QVERIFY(stop > 10);
        QVERIFY(std::abs(findWord(words, u"T1"_s)->xMin - left->xMin - stop) < 1.0);
        QVERIFY(std::abs(findWord(words, u"T2"_s)->xMin - left->xMin - 2 * stop) < 1.0);
        QVERIFY(std::abs(findWord(words, u"T3"_s)->xMin - left->xMin - stop) < 1.0);

        // The long line goes on over the next printed lines, within the page.
        const Word *first = findWord(words, u"word00"_s);
        const Word *last = findWord(words, u"word59"_s);
        QVERIFY(last->yMin > first->yMin);
        double right = 0;
        for (const Word &w : words)
            right = std::max(right, w.xMax);
        QVERIFY(right < QPageSize(QPageSize::A4).size(QPageSize::Point).width() - left->xMin / 2);
    }

    void printErrors_data() {
        QTest::addColumn<QString>("failure"); // of the printer source
        QTest::addColumn<QString>("output");  // the PDF file's path
        QTest::addColumn<QString>("error");
        QTest::newRow("no default printer") << SystemPrinterSource::NoPrinterText << QString()
                                            << u"There is no default printer currently selected"_s;
        QTest::newRow("cannot print")
            << QString() << u"/nonexistent-folder/printed.pdf"_s
            << u"The printer \"/nonexistent-folder/printed.pdf\" could not start the print job."_s;
    }
    void printErrors() {
        QFETCH(QString, failure);
        QFETCH(QString, output);
        QFETCH(QString, error);
        m_printers.failureText = failure;
        if (!output.isEmpty())
            m_printers.path = output;
        start("line one\r\n", "5");
        QTest::mouseClick(logWindow()->printLogButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{error});
        QCOMPARE(logWindow()->logText->toPlainText(), u"line one"_s);
        QCOMPARE(m_run->shell.log().LogLines, QStringList{u"line one"_s});
    }
};

QTEST_MAIN(TestLogWindow)
#include "tst_logwindow.moc"
