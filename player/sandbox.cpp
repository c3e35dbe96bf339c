#include "sandbox.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <iterator>
#include <optional>

namespace sandbox {

namespace {

// Policy files are a few lines; anything much larger is not one.
constexpr qsizetype MaxPolicyBytes = 64 * 1024;

// One part of an IPv4 address as browsers read it: 0x hex, a leading 0 octal, else
// decimal; nothing if it is not a number.
std::optional<quint64> ipv4Part(QStringView part)
{
    int base = 10;
    if (part.size() >= 2 && part[0] == u'0' && (part[1] == u'x' || part[1] == u'X')) {
        base = 16;
        part = part.mid(2);
        if (part.isEmpty())
            return 0;
    } else if (part.size() >= 2 && part[0] == u'0') {
        base = 8;
        part = part.mid(1);
    }
    // No cap on the digits: leading zeros are as good as none to a browser, and the value
    // check below stops the loop early enough.
    if (part.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (QChar c : part) {
        const int digit = c.isDigit()                                    ? c.digitValue()
                          : (c.toLower() >= u'a' && c.toLower() <= u'f') ? 10 + c.toLower().unicode() - 'a'
                                                                         : 99;
        if (digit >= base || c.unicode() > 127)
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xffffffffULL)
            return quint64(0x100000000ULL); // too large either way
    }
    return value;
}

} // namespace

HostSpace hostSpace(const QString &rawHost)
{
    QString host = rawHost.toLower();
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.endsWith(u'.'))
        host.chop(1);
    if (host.isEmpty())
        return {HostSpace::Kind::Invalid};
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")))
        return {HostSpace::Kind::Known, AddressSpace::Loopback};
    if (host.contains(u':')) {
        const QHostAddress v6(host);
        return v6.isNull() ? HostSpace{HostSpace::Kind::Invalid} : HostSpace{HostSpace::Kind::Known, addressSpace(v6)};
    }
    // A host whose last part is a number is an IPv4 address (or no host at all).
    const QStringList parts = host.split(u'.');
    if (!ipv4Part(parts.last()))
        return {HostSpace::Kind::Name};
    if (parts.size() > 4)
        return {HostSpace::Kind::Invalid};
    quint64 address = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const auto value = ipv4Part(parts[i]);
        const bool last = i == parts.size() - 1;
        const quint64 limit = last ? (quint64(1) << (8 * (5 - parts.size()))) : 256;
        if (!value || *value >= limit)
            return {HostSpace::Kind::Invalid};
        address = last ? (address << (8 * (5 - parts.size()))) + *value : (address << 8) + *value;
    }
    return {HostSpace::Kind::Known, addressSpace(QHostAddress(quint32(address)))};
}

bool mayOpenInBrowser(const QUrl &url)
{
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        || url.host().isEmpty() || !url.userInfo().isEmpty())
        return false;
    const HostSpace where = hostSpace(url.host());
    return where.kind == HostSpace::Kind::Name
           || (where.kind == HostSpace::Kind::Known && where.space == AddressSpace::Public);
}

bool mayReach(AddressSpace movie, AddressSpace target)
{
    return int(target) >= int(movie);
}

bool isBlockedPort(int port)
{
    static constexpr int blocked[]
        = {1,    7,    9,    11,   13,   15,   17,   19,   20,   21,   22,   23,   25,   37,   42,   43,
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
    reader.setNamespaceProcessing(false);
    reader.setEntityExpansionLimit(0);
    Policy policy;
    bool none = false;
    int depth = 0;
    bool sawRoot = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isDTD() && !reader.entityDeclarations().isEmpty())
            return {}; // entities are not for policy files
        if (reader.isStartElement()) {
            ++depth;
            if (depth == 1) {
                // Exactly this name: no prefix, and no default namespace either (declared
                // prefixes, such as xsi, stay allowed, as real files have them).
                if (reader.qualifiedName() != QLatin1String("cross-domain-policy")
                    || reader.attributes().hasAttribute(QLatin1String("xmlns")))
                    return {};
                for (const auto &declaration : reader.namespaceDeclarations())
                    if (declaration.prefix().isEmpty())
                        return {};
                sawRoot = true;
            } else if (depth == 2 && reader.qualifiedName() == QLatin1String("site-control")) {
                policy.siteControl
                    = reader.attributes().value(QLatin1String("permitted-cross-domain-policies")).toString().trimmed();
                none = none || policy.siteControl == QLatin1String("none");
            } else if (depth == 2 && reader.qualifiedName() == QLatin1String("allow-access-from")) {
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

Policy policyFromAnswer(QByteArrayView body, const QByteArray &contentType, const QByteArray &metaPolicyHeader)
{
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    if (!type.startsWith("text/") && type != "application/xml" && type != "application/xhtml+xml")
        return {};
    Policy policy = parsePolicy(body);
    const QByteArray header = metaPolicyHeader.trimmed().toLower();
    const QByteArray meta = !header.isEmpty()               ? header
                            : !policy.siteControl.isEmpty() ? policy.siteControl.toLatin1().toLower()
                                                            : QByteArray("master-only");
    if (meta == "none" || meta == "none-this-response"
        || (meta == "by-content-type" && type != "text/x-cross-domain-policy"))
        return {};
    if (meta != "master-only" && meta != "by-content-type" && meta != "by-ftp-filename" && meta != "all")
        return {}; // a meta-policy nobody knows allows nothing
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

} // namespace sandbox
