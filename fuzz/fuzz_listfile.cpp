// Reads arbitrary bytes as a list file into a sorted and an unsorted list, and writes what was
// read back out. Input is untrusted: the reader must never crash, hang or allocate in
// proportion to a count the data does not back.

#include "core/rules/listfile.h"

#include <QBuffer>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    for (auto order : {corvane::RuleList::Order::ByCaption, corvane::RuleList::Order::Insertion}) {
        QBuffer in;
        in.setData(bytes);
        in.open(QIODevice::ReadOnly);
        corvane::RuleList list(order);
        corvane::ReadListStream(list, in);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        corvane::WriteListStream(list, out, size % 2 == 0);
    }
    return 0;
}
