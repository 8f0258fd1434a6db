#include "core/rules/listfile.h"

#include "core/errors.h"
#include "core/platform/durablefile.h"
#include "core/platform/legacytext.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSet>
#include <QtEndian>

#include <zlib.h>

#include <array>
#include <cstring>

namespace corvane {

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kChunk = 64 * 1024;
constexpr int kHeaderSize = 5;
// The body a reader takes at most. The fuzz build lowers it so that small inputs cross it.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr qint64 kBodyBound = kMaxListBodyBytes;
constexpr qint32 kEntryBound = kMaxListEntries;
#else
constexpr qint64 kBodyBound = 1024 * 1024;
constexpr qint32 kEntryBound = 4096;
#endif

QString entriesOverBound(qint64 count) {
    return u"The list holds %1 entries, more than the %2 a list file may hold."_s.arg(count).arg(
        kEntryBound);
}

QString bodyOverBound() {
    return u"The list's entries take more than %1 MiB, more than a list file may hold."_s.arg(
        kBodyBound / (1024 * 1024));
}

// A body beyond the bounds: nothing of it is taken.
class OverBound : public DataError {
public:
    using DataError::DataError;
};

void writeAll(QIODevice *device, const char *data, qint64 size) {
    if (device->write(data, size) != size)
        throw FileError(device->errorString());
}

// Sends the entry records either straight to the device or through one deflate stream.
class RecordSink {
public:
    RecordSink(QIODevice *device, bool compress) : m_device(device), m_compress(compress) {
        if (!m_compress)
            return;
        m_out.resize(kChunk);
        if (deflateInit2(&m_zs, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw Error(u"Error"_s);
        m_open = true;
    }
    ~RecordSink() {
        if (m_open)
            deflateEnd(&m_zs);
    }
    RecordSink(const RecordSink &) = delete;
    RecordSink &operator=(const RecordSink &) = delete;

    void write(const char *data, qsizetype size) {
        if (!m_compress) {
            writeAll(m_device, data, size);
            return;
        }
        m_zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_zs.avail_in = static_cast<uInt>(size);
        pump(Z_NO_FLUSH);
    }

    void finish() {
        if (!m_compress)
            return;
        m_zs.next_in = nullptr;
        m_zs.avail_in = 0;
        pump(Z_FINISH);
    }

private:
    void pump(int flush) {
        for (;;) {
            m_zs.next_out = reinterpret_cast<Bytef *>(m_out.data());
            m_zs.avail_out = static_cast<uInt>(m_out.size());
            const int rc = deflate(&m_zs, flush);
            if (rc == Z_STREAM_ERROR)
                throw Error(u"Error"_s);
            const qsizetype produced = m_out.size() - m_zs.avail_out;
            if (produced > 0)
                writeAll(m_device, m_out.constData(), produced);
            if (flush == Z_FINISH ? rc == Z_STREAM_END : m_zs.avail_out != 0)
                return;
        }
    }

    QIODevice *m_device;
    bool m_compress;
    bool m_open = false;
    z_stream m_zs{};
    QByteArray m_out;
};

// How the body ends once the records the header counts have been read.
enum class BodyEnd {
    Clean,    // nothing left: for a compressed body, the stream ended and its checksum held
    MoreData, // bytes the records did not take
    CutOff,   // a compressed stream without its end
};

// Hands out the body's bytes, plain or inflated. Input is untrusted: it never reads past the
// real data and reports the end instead of failing, and no body longer than kBodyBound is
// taken, so a small file cannot make the reader hold gigabytes of entries.
class RecordSource {
public:
    RecordSource(QIODevice *device, bool compressed) : m_device(device), m_compressed(compressed) {
        if (!m_compressed)
            return;
        m_in.resize(kChunk);
        m_out.resize(kChunk);
        if (inflateInit(&m_zs) != Z_OK)
            throw DataError(u"Error"_s);
        m_open = true;
    }
    ~RecordSource() {
        if (m_open)
            inflateEnd(&m_zs);
    }
    RecordSource(const RecordSource &) = delete;
    RecordSource &operator=(const RecordSource &) = delete;

    // Fills dst with exactly size bytes; false when the data ends first. Throws OverBound
    // when the records would take more than kBodyBound bytes.
    bool read(char *dst, qsizetype size) {
        m_taken += size;
        if (m_taken > kBodyBound)
            throw OverBound(bodyOverBound());
        if (!m_compressed)
            return readPlain(dst, size);
        while (size > 0) {
            if (m_outPos == m_outLen && !inflateMore())
                return false;
            const qsizetype n = std::min(size, m_outLen - m_outPos);
            std::memcpy(dst, m_out.constData() + m_outPos, n);
            m_outPos += n;
            dst += n;
            size -= n;
        }
        return true;
    }

    // After the last record: what is left of the body.
    BodyEnd end() {
        if (!m_compressed) {
            char probe;
            return m_device->read(&probe, 1) == 1 ? BodyEnd::MoreData : BodyEnd::Clean;
        }
        if (m_outPos < m_outLen || inflateMore())
            return BodyEnd::MoreData;
        if (!m_streamEnded)
            return m_sawInput ? BodyEnd::CutOff : BodyEnd::Clean; // no stream at all: no body
        if (m_zs.avail_in > 0)
            return BodyEnd::MoreData;
        char probe;
        return m_device->read(&probe, 1) == 1 ? BodyEnd::MoreData : BodyEnd::Clean;
    }

private:
    bool readPlain(char *dst, qsizetype size) {
        while (size > 0) {
            const qint64 got = m_device->read(dst, size);
            if (got <= 0)
                return false;
            dst += got;
            size -= got;
        }
        return true;
    }

    // Refills the output buffer; false at the end of the stream or of the input.
    bool inflateMore() {
        m_outPos = m_outLen = 0;
        while (!m_streamEnded) {
            if (m_zs.avail_in == 0 && !m_inputEnded) {
                const qint64 got = m_device->read(m_in.data(), m_in.size());
                if (got <= 0)
                    m_inputEnded = true;
                else {
                    m_sawInput = true;
                    m_zs.next_in = reinterpret_cast<Bytef *>(m_in.data());
                    m_zs.avail_in = static_cast<uInt>(got);
                }
            }
            m_zs.next_out = reinterpret_cast<Bytef *>(m_out.data());
            m_zs.avail_out = static_cast<uInt>(m_out.size());
            const int rc = inflate(&m_zs, Z_NO_FLUSH);
            m_outLen = m_out.size() - m_zs.avail_out;
            if (rc == Z_STREAM_END)
                m_streamEnded = true;
            else if (rc == Z_BUF_ERROR) {
                // No progress is possible without more input.
                if (m_inputEnded)
                    return m_outLen > 0;
            } else if (rc != Z_OK)
                throw DataError(u"Error"_s);
            if (m_outLen > 0)
                return true;
        }
        return false;
    }

    QIODevice *m_device;
    bool m_compressed;
    bool m_open = false;
    bool m_inputEnded = false;
    bool m_streamEnded = false;
    bool m_sawInput = false;
    z_stream m_zs{};
    QByteArray m_in;
    QByteArray m_out;
    qsizetype m_outPos = 0;
    qsizetype m_outLen = 0;
    qint64 m_taken = 0; // bytes handed to the records
};

void putField(char *field, const QString &text) {
    const QByteArray bytes = encodeLegacyField(text, kListFieldSize);
    std::memcpy(field, bytes.constData(), bytes.size());
    std::memset(field + bytes.size(), 0, kListFieldSize - bytes.size());
}

QString takeField(const char *field) {
    const auto *end = static_cast<const char *>(std::memchr(field, 0, kListFieldSize));
    return decodeLegacyText(QByteArrayView(field, end ? end - field : kListFieldSize));
}

} // namespace

QString listOverBound(const RuleList &list) {
    if (list.size() > kEntryBound)
        return entriesOverBound(list.size());
    qint64 bytes = 0;
    for (const RuleEntry &entry : list)
        bytes += kListFieldSize + 4 + qint64(entry.SubItems.size()) * kListFieldSize;
    if (bytes > kBodyBound)
        return bodyOverBound();
    return {};
}

void WriteListStream(const RuleList &list, QIODevice &device, bool compress) {
    if (const QString bound = listOverBound(list); !bound.isEmpty())
        throw DataError(bound);
    char header[kHeaderSize];
    header[0] = compress ? 1 : 0;
    qToLittleEndian<qint32>(static_cast<qint32>(list.size()), header + 1);
    writeAll(&device, header, kHeaderSize);

    RecordSink sink(&device, compress);
    QByteArray record;
    for (const RuleEntry &entry : list) {
        record.resize(kListFieldSize + 4 + entry.SubItems.size() * kListFieldSize);
        char *p = record.data();
        putField(p, entry.Caption);
        qToLittleEndian<qint32>(static_cast<qint32>(entry.SubItems.size()), p + kListFieldSize);
        p += kListFieldSize + 4;
        for (const QString &sub : entry.SubItems) {
            putField(p, sub);
            p += kListFieldSize;
        }
        sink.write(record.constData(), record.size());
    }
    sink.finish();
}

ListReadReport ReadListStream(RuleList &list, QIODevice &device) {
    ListReadReport r;
    list.clear();
    char header[kHeaderSize];
    const qint64 headerRead = device.read(header, kHeaderSize);
    if (headerRead != kHeaderSize) {
        r.status = ListReadStatus::TooShort;
        r.partialHeader = headerRead > 0;
        return r;
    }
    r.entryCount = qFromLittleEndian<qint32>(header + 1);
    if (r.entryCount > kEntryBound) {
        r.status = ListReadStatus::TooLarge;
        r.error = u"The list file holds %1 entries, more than the %2 a list file may hold."_s
                      .arg(r.entryCount)
                      .arg(kEntryBound);
        return r;
    }

    // Entries are gathered first and handed to the list at once, so a sorted list sorts
    // them once instead of on every insertion; the result is the same order.
    QList<RuleEntry> entries;
    // Most entries of a list share their further columns (the same description, or none): equal
    // ones share one copy, which keeps a list of 100,000 entries some 8 MB smaller. Only the
    // first kSharedSubItems distinct ones are offered for sharing, so a list whose columns all
    // differ (the X-and-Y list's second words) costs no more than before.
    constexpr qsizetype kSharedSubItems = 256;
    QSet<QStringList> shared;
    bool complete = true;
    try {
        RecordSource source(&device, header[0] != 0);
        std::array<char, kListFieldSize + 4> head;
        std::array<char, kListFieldSize> field;
        for (qint32 i = 0; i < r.entryCount && complete; ++i) {
            if (!source.read(head.data(), head.size())) {
                complete = false;
                break;
            }
            RuleEntry entry;
            entry.Caption = takeField(head.data());
            const qint32 subCount = qFromLittleEndian<qint32>(head.data() + kListFieldSize);
            if (subCount > 0 && qint64(subCount) * kListFieldSize > kBodyBound)
                throw OverBound(bodyOverBound());
            for (qint32 s = 0; s < subCount; ++s) {
                if (!source.read(field.data(), field.size())) {
                    complete = false;
                    break;
                }
                entry.SubItems.append(takeField(field.data()));
            }
            if (const auto it = shared.constFind(entry.SubItems); it != shared.cend())
                entry.SubItems = *it;
            else if (shared.size() < kSharedSubItems)
                shared.insert(entry.SubItems);
            entries.append(std::move(entry));
        }
        // Data the records did not take means the count is wrong: a count lowered (or made
        // negative) would otherwise drop those entries silently at the next save.
        if (complete) {
            const BodyEnd end = source.end();
            if (end != BodyEnd::Clean)
                r.status = end == BodyEnd::MoreData ? ListReadStatus::TrailingData
                                                    : ListReadStatus::Truncated;
        }
    } catch (const OverBound &e) {
        // Beyond what any list file may hold: nothing of it is used, so that no entry drops out
        // of use unnoticed.
        r.status = ListReadStatus::TooLarge;
        r.error = e.message();
        list.clear();
        return r;
    } catch (const DataError &e) {
        // The inflater gave up or the body expands beyond any real list: the entries read
        // before the fault are kept, like those of a body that ends early.
        r.status = ListReadStatus::BadCompression;
        r.error = e.message();
        complete = true;
    }
    r.entriesRead = entries.size();
    entries.squeeze(); // the room left by growing is a quarter of the list on average
    list.assign(std::move(entries));
    if (!complete)
        r.status = ListReadStatus::Truncated;
    return r;
}

void SaveListFile(const RuleList &list, const QString &path, bool compress) {
    DurableFile file(path);
    try {
        WriteListStream(list, *file.device(), compress);
    } catch (const WriteError &) {
        throw;
    } catch (const DataError &) {
        throw; // beyond the bounds: the file is left as it was
    } catch (const Error &e) {
        file.cancel();
        throw WriteError(path, e.message());
    }
    file.commit();
}

ListReadReport LoadListFile(RuleList &list, const QString &path) {
    if (!QFileInfo::exists(path)) {
        ListReadReport none;
        none.status = ListReadStatus::NoFile;
        return none;
    }
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        const QString reason = QFileInfo(path).isDir() ? u"Is a directory"_s : file.errorString();
        throw FileError(u"Cannot open file \"%1\". %2"_s.arg(path, reason));
    }
    return ReadListStream(list, file);
}

} // namespace corvane
