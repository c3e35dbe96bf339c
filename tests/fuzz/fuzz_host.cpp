// Hosts and addresses as the sandbox places them: hostSpace against the C library's own
// reading of legacy IPv4 spellings, mayOpenInBrowser on addresses built from the input,
// and addressSpace against Qt's classification of what it parses.
#include "fuzzing.h"
#include "sandbox.h"

#include <QHostAddress>
#include <QUrl>

#include <arpa/inet.h>

#include <optional>

namespace {

using sandbox::AddressSpace;

// The space of a host the C library reads as an IPv4 address (one to four parts,
// decimal, octal or hex, as browsers read them too); nothing if it does not.
std::optional<AddressSpace> legacyIpv4Space(QString host)
{
    if (host.endsWith(u'.'))
        host.chop(1);
    for (QChar c : host)
        if (!(c.isDigit() || c == u'.' || c == u'x' || c == u'X' || (c.toLower() >= u'a' && c.toLower() <= u'f'))
            || c.unicode() > 127)
            return std::nullopt;
    // A bare "0x" is 0 to browsers, not a number to the C library.
    QStringList parts = host.split(u'.');
    for (QString &part : parts)
        if (part.compare(QLatin1String("0x"), Qt::CaseInsensitive) == 0)
            part = QStringLiteral("0");
    in_addr address{};
    if (host.isEmpty() || inet_aton(parts.join(u'.').toLatin1().constData(), &address) == 0)
        return std::nullopt;
    return sandbox::addressSpace(QHostAddress(quint32(ntohl(address.s_addr))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using Kind = sandbox::HostSpace::Kind;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const sandbox::HostSpace where = sandbox::hostSpace(text);
    if (const auto space = legacyIpv4Space(text.toLower()))
        FUZZ_CHECK(where.kind == Kind::Known && where.space == *space);

    // Handed to the desktop's browser only as a web address that is not this machine's
    // or its network's, however QUrl spells the host.
    for (const QUrl &url : {QUrl(text), QUrl(QStringLiteral("http://") + text + QStringLiteral("/"))}) {
        if (!sandbox::mayOpenInBrowser(url))
            continue;
        FUZZ_CHECK(url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
        FUZZ_CHECK(url.userInfo().isEmpty() && !url.host().isEmpty());
        const QString host = url.host().toLower();
        FUZZ_CHECK(host != QLatin1String("localhost") && !host.endsWith(QLatin1String(".localhost"))
                   && !host.endsWith(QLatin1String(".localhost.")));
        if (const auto space = legacyIpv4Space(host))
            FUZZ_CHECK(*space == AddressSpace::Public);
        const QHostAddress address(host);
        if (!address.isNull())
            FUZZ_CHECK(sandbox::addressSpace(address) == AddressSpace::Public);
    }

    QHostAddress address;
    if (address.setAddress(text)) {
        const AddressSpace space = sandbox::addressSpace(address);
        if (address.isLoopback())
            FUZZ_CHECK(space == AddressSpace::Loopback);
        if (address.isLinkLocal() || address.isSiteLocal() || address.isUniqueLocalUnicast())
            FUZZ_CHECK(space != AddressSpace::Public);
        // An IPv4 address mapped into IPv6 is the same place.
        bool isV4 = false;
        const quint32 v4 = address.toIPv4Address(&isV4);
        if (isV4) {
            FUZZ_CHECK(sandbox::addressSpace(QHostAddress(v4)) == space);
            FUZZ_CHECK(sandbox::addressSpace(QHostAddress(QStringLiteral("::ffff:") + QHostAddress(v4).toString()))
                       == space);
        }
        // Written plainly, the host reads as the same place. (A zone, which no web
        // address can carry, may be any text, "x.localhost" too.)
        if (address.scopeId().isEmpty()) {
            const sandbox::HostSpace plain = sandbox::hostSpace(address.toString());
            FUZZ_CHECK(plain.kind == Kind::Known && plain.space == space);
        }
    }
    return 0;
}
