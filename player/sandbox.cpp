#include "sandbox.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <iterator>

namespace sandbox {

namespace {

// Policy files are a few lines; anything much larger is not one.
constexpr qsizetype MaxPolicyBytes = 64 * 1024;

bool inV4(quint32 address, quint32 network, int bits)
{
    const quint32 mask = bits == 0 ? 0 : ~quint32(0) << (32 - bits);
    return (address & mask) == (network & mask);
}

} // namespace

AddressSpace addressSpace(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4); // also IPv4 mapped into IPv6
    if (isV4) {
        if (inV4(v4, 0x7f000000, 8) || inV4(v4, 0, 8)) // 127/8, and 0/8, which reaches this machine
            return AddressSpace::Loopback;
        if (inV4(v4, 0x0a000000, 8) || inV4(v4, 0xac100000, 12) || inV4(v4, 0xc0a80000, 16)
            || inV4(v4, 0xa9fe0000, 16) || inV4(v4, 0x64400000, 10))
            return AddressSpace::Private;
        return AddressSpace::Public;
    }
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return AddressSpace::Loopback; // nothing we can place: treat it as the most private
    if (address.isLoopback() || address == QHostAddress(QHostAddress::AnyIPv6))
        return AddressSpace::Loopback;
    const Q_IPV6ADDR a = address.toIPv6Address();
    if ((a[0] & 0xfe) == 0xfc || (a[0] == 0xfe && (a[1] & 0xc0) == 0x80)) // fc00::/7, fe80::/10
        return AddressSpace::Private;
    return AddressSpace::Public;
}

bool mayReach(AddressSpace movie, AddressSpace target)
{
    return int(target) >= int(movie);
}

bool isBlockedPort(int port)
{
    static constexpr int blocked[] = {
        1,    7,    9,    11,   13,   15,   17,   19,   20,   21,   22,   23,   25,   37,   42,   43,
        53,   69,   77,   79,   87,   95,   101,  102,  103,  104,  109,  110,  111,  113,  115,  117,
        119,  123,  135,  137,  139,  143,  161,  179,  389,  427,  465,  512,  513,  514,  515,  526,
        530,  531,  532,  540,  548,  554,  556,  563,  587,  601,  636,  989,  990,  993,  995,  1719,
        1720, 1723, 2049, 3659, 4045, 5060, 5061, 6000, 6566, 6665, 6666, 6667, 6668, 6669, 10080};
    return port <= 0 || port > 65535 || std::find(std::begin(blocked), std::end(blocked), port) != std::end(blocked);
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const auto defaultPort = [](const QUrl &u) { return u.scheme() == QLatin1String("https") ? 443 : 80; };
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
           && a.port(defaultPort(a)) == b.port(defaultPort(b));
}

QUrl policyUrl(const QUrl &target)
{
    QUrl url;
    url.setScheme(target.scheme());
    url.setHost(target.host());
    url.setPort(target.port());
    url.setPath(QStringLiteral("/crossdomain.xml"));
    return url;
}

Policy parsePolicy(QByteArrayView xml)
{
    if (xml.size() > MaxPolicyBytes)
        return {};
    QXmlStreamReader reader(xml.toByteArray());
    Policy policy;
    bool none = false;
    int depth = 0;
    bool sawRoot = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            ++depth;
            if (depth == 1) {
                if (reader.name() != QLatin1String("cross-domain-policy"))
                    return {};
                sawRoot = true;
            } else if (depth == 2 && reader.name() == QLatin1String("site-control")) {
                none = none
                       || reader.attributes().value(QLatin1String("permitted-cross-domain-policies"))
                              == QLatin1String("none");
            } else if (depth == 2 && reader.name() == QLatin1String("allow-access-from")) {
                const auto attributes = reader.attributes();
                PolicyRule rule;
                rule.domain = attributes.value(QLatin1String("domain")).toString().trimmed();
                rule.secure = attributes.value(QLatin1String("secure")) != QLatin1String("false");
                if (!rule.domain.isEmpty())
                    policy.rules << rule;
            }
        } else if (reader.isEndElement()) {
            --depth;
        }
    }
    if (reader.hasError() || !sawRoot || none)
        return {};
    return policy;
}

bool domainMatches(const QString &pattern, const QString &host)
{
    if (pattern == QLatin1String("*"))
        return true;
    const QString h = host.toLower();
    const QString p = pattern.toLower();
    if (p.startsWith(QLatin1String("*."))) {
        const QString domain = p.mid(2);
        if (domain.contains(QLatin1Char('*')) || domain.isEmpty() || !QHostAddress(h).isNull())
            return false; // one leading wildcard only, and never over numeric addresses
        return h == domain || h.endsWith(QLatin1Char('.') + domain);
    }
    return !p.contains(QLatin1Char('*')) && h == p;
}

bool policyAllows(const Policy &policy, const QUrl &movie, const QUrl &policyOrigin)
{
    const bool securePolicy = policyOrigin.scheme() == QLatin1String("https");
    const bool secureMovie = movie.scheme() == QLatin1String("https");
    for (const PolicyRule &rule : policy.rules)
        if (domainMatches(rule.domain, movie.host()) && (!securePolicy || !rule.secure || secureMovie))
            return true;
    return false;
}

Media sniff(QByteArrayView head)
{
    if (head.startsWith("FWS") || head.startsWith("CWS") || head.startsWith("ZWS"))
        return Media::Swf;
    if (head.startsWith("\xff\xd8\xff"))
        return Media::Jpeg;
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return Media::Png;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return Media::Gif;
    return Media::None;
}

} // namespace sandbox

namespace sandbox {

bool isShownMedia(Media media, const QByteArray &contentType)
{
    if (media == Media::None)
        return false;
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    if (type.isEmpty() || type == "application/octet-stream")
        return true; // said nothing
    if (media == Media::Swf)
        return type == "application/x-shockwave-flash" || type == "application/futuresplash"
               || type == "application/vnd.adobe.flash.movie";
    return type.startsWith("image/") && !type.contains("svg");
}

} // namespace sandbox
