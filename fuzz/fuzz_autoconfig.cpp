// Fuzzes the mail settings document reader: whatever a domain's web server sends, the reader
// either refuses it with DataError or returns servers that are host names with real ports,
// and never crashes, hangs or expands an entity.

#include "core/errors.h"
#include "core/settings/autoconfig.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const corvane::AddressParts address =
        *corvane::splitMailAddress(u"someone@example.org"_s);
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const auto found = corvane::parseAutoconfigDocument(
            input, address, u"https://autoconfig.example.org/mail/config-v1.1.xml"_s);
        if (found) {
            if (!corvane::isHostName(found->incoming.host) || found->incoming.port == 0)
                std::abort();
            if (found->outgoing &&
                (!corvane::isHostName(found->outgoing->host) || found->outgoing->port == 0))
                std::abort();
            for (const QString &host : found->otherDomainHosts)
                if (corvane::hostWithinDomain(host, address.domain))
                    std::abort();
        }
    } catch (const corvane::DataError &) {
    }
    return 0;
}
