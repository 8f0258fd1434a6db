#include "core/records/archivecopies.h"

#include "core/errors.h"
#include "core/protocol/devicelines.h"
#include "core/protocol/mailaddress.h"
#include "core/protocol/mailmessage.h"

#include <QCollator>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QThread>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// How much of a file's end is looked at for its end line; blank lines after the end line are
// ignored, as a reader ignores them.
constexpr qint64 TailBytes = 4096;

// Whether the file's last line that is not blank is the end line ".".
bool endsWithEndLine(QFile &file) {
    const qint64 size = file.size();
    const qint64 tail = qMin(size, TailBytes);
    if (!file.seek(size - tail))
        throw FileError(file.errorString());
    QByteArray bytes = file.read(tail);
    if (bytes.size() != tail)
        throw FileError(file.errorString());
    while (!bytes.isEmpty() && (bytes.back() == '\n' || bytes.back() == '\r'))
        bytes.chop(1);
    if (!bytes.endsWith('.'))
        return false;
    bytes.chop(1);
    if (bytes.isEmpty())
        return tail == size; // "." is the file's first line
    return bytes.back() == '\n';
}

} // namespace

QStringList archiveCopyNames(const QString &folder) {
    QDir dir(folder);
    // On Unix "hidden" means a name that begins with a dot; such names are copies too.
    dir.setFilter(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    dir.setNameFilters({u"*.eml"_s});
    QStringList names = dir.entryList();
    // The C locale has no collation to speak of (no numeric mode, upper case before lower):
    // a session without a language set gets the English order instead.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(names.begin(), names.end(), [&collator](const QString &a, const QString &b) {
        const int order = collator.compare(a, b);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

ArchiveCopy readArchiveCopy(const QString &folder, const QString &name) {
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(u"Cannot load message from file %1"_s.arg(path));
    if (!endsWithEndLine(file))
        throw DataError(u"The message ends before its end line \".\"."_s);
    if (!file.seek(0))
        throw FileError(file.errorString());

    MailMessage message;
    DeviceLineSource source(file, MessageLimits::MaxLineLength);
    QByteArray line;
    qsizetype bytes = 0;
    for (;;) {
        if (!source.readLine(line))
            throw DataError(u"The message ends before its end line \".\"."_s);
        if (line.isEmpty() || line == ".")
            break;
        if (line.startsWith(".."))
            line.remove(0, 1);
        if (message.HeaderLines.size() >= MessageLimits::MaxHeaderLines)
            throw DataError(
                u"The message has more than %1 header lines."_s.arg(MessageLimits::MaxHeaderLines));
        bytes += line.size() + 2;
        if (bytes > MessageLimits::MaxHeaderBytes)
            throw DataError(u"The message header is larger than %1 bytes."_s.arg(
                MessageLimits::MaxHeaderBytes));
        message.HeaderLines.append(line);
    }
    try {
        message.ParseHeader();
    } catch (const AddressError &) {
        // The fields are filled all the same, the sender in its lenient reading.
    }
    return {name, message.Subject, message.FromText(), message.RecipientsText(), message.Date};
}

// ---- the scan ---------------------------------------------------------------------------------

struct ArchiveScan::Run {
    QString folder;
    std::atomic<bool> stopped{false};
};

ArchiveScan::ArchiveScan(QObject *parent) : QObject(parent) {
    qRegisterMetaType<ArchiveCopy>();
    qRegisterMetaType<QList<ArchiveCopy>>();
}

ArchiveScan::~ArchiveScan() {
    stop();
}

void ArchiveScan::start(const QString &folder) {
    stop();
    auto run = std::make_shared<Run>();
    run->folder = folder;
    m_run = run;
    m_running = true;
    // Each batch is handed over through the event loop and dropped there when its scan is no
    // longer the current one.
    const auto deliver = [this, run](auto &&emitter) {
        QMetaObject::invokeMethod(
            this,
            [this, run, emitter = std::forward<decltype(emitter)>(emitter)] {
                if (m_run == run)
                    emitter();
            },
            Qt::QueuedConnection);
    };
    m_thread = QThread::create([run, deliver, this] {
        const QStringList names = archiveCopyNames(run->folder);
        const int total = int(names.size());
        deliver([this, total] { Q_EMIT namesFound(total); });
        QList<ArchiveCopy> batch;
        int skipped = 0;
        QElapsedTimer sinceLast;
        sinceLast.start();
        for (int i = 0; i < total; ++i) {
            if (run->stopped)
                return;
            try {
                batch.append(readArchiveCopy(run->folder, names[i]));
            } catch (const std::exception &) {
                ++skipped;
            }
            // Small batches at first so that the first rows show at once, then a batch every
            // few dozen milliseconds.
            if (i + 1 == total || batch.size() >= 256 || sinceLast.elapsed() >= 40) {
                deliver([this, copies = std::move(batch), done = i + 1, total] {
                    Q_EMIT copiesRead(copies, done, total);
                });
                batch.clear();
                sinceLast.restart();
            }
        }
        deliver([this, skipped] {
            join();
            m_running = false;
            Q_EMIT finished(skipped);
        });
    });
    m_thread->setObjectName(u"ArchiveScan"_s);
    m_thread->start(QThread::LowPriority);
}

void ArchiveScan::stop() {
    if (m_run)
        m_run->stopped = true;
    join();
    m_run.reset();
    m_running = false;
}

void ArchiveScan::join() {
    if (!m_thread)
        return;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

} // namespace corvane
