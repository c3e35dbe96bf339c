// Policy files as the relay reads them from any host, and what their rules let in.
#include "fuzzing.h"
#include "sandbox.h"

#include <QHostAddress>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView xml(reinterpret_cast<const char *>(data), qsizetype(size));
    const sandbox::Policy policy = sandbox::parsePolicy(xml);
    // Only a policy document allows anyone (element names cannot be escaped in XML).
    FUZZ_CHECK(policy.rules.isEmpty() || xml.contains("cross-domain-policy"));

    // Served by a host, the file counts whole or not at all, and never past a "none".
    for (const char *type : {"text/x-cross-domain-policy", "text/xml; charset=utf-8", "application/xml", "image/gif"})
        for (const char *meta : {"", "all", "by-content-type", "none", "master-only"}) {
            const sandbox::Policy served = sandbox::policyFromAnswer(xml, type, meta);
            FUZZ_CHECK(served.rules.isEmpty() || served.rules.size() == policy.rules.size());
            FUZZ_CHECK(served.rules.isEmpty() || QByteArray(meta) != "none");
        }

    QStringList hosts = {QStringLiteral("www.example.org"), QStringLiteral("example.org"),
                         QStringLiteral("93.184.216.34"), QStringLiteral("[2001:db8::1]")};
    for (const sandbox::PolicyRule &rule : policy.rules) {
        FUZZ_CHECK(!rule.domain.isEmpty() && rule.domain == rule.domain.trimmed());
        if (hosts.size() < 16)
            hosts << (rule.domain.startsWith(QLatin1String("*.")) ? QStringLiteral("a") + rule.domain.mid(1)
                                                                  : rule.domain);
    }
    const QUrl plainOrigin(QStringLiteral("http://data.example.com/crossdomain.xml"));
    const QUrl secureOrigin(QStringLiteral("https://data.example.com/crossdomain.xml"));
    for (const QString &host : std::as_const(hosts)) {
        const QUrl plain(QStringLiteral("http://") + host + QStringLiteral("/m.swf"));
        const QUrl secure(QStringLiteral("https://") + host + QStringLiteral("/m.swf"));
        if (!plain.isValid() || plain.host().isEmpty())
            continue;
        const bool plainFromPlain = sandbox::policyAllows(policy, plain, plainOrigin);
        const bool plainFromSecure = sandbox::policyAllows(policy, plain, secureOrigin);
        const bool secureFromPlain = sandbox::policyAllows(policy, secure, plainOrigin);
        const bool secureFromSecure = sandbox::policyAllows(policy, secure, secureOrigin);
        // A policy served over https never lets in more than the same one over http,
        // and what lets an http movie in lets in the https one from the same host.
        FUZZ_CHECK(!plainFromSecure || plainFromPlain);
        FUZZ_CHECK(!secureFromSecure || secureFromPlain);
        FUZZ_CHECK(!plainFromPlain || secureFromPlain);
        FUZZ_CHECK(!plainFromSecure || secureFromSecure);
        FUZZ_CHECK(policy.rules.size() > 0 || !secureFromPlain);
        // A wildcard never stands for a numeric address: only "*" or the address itself.
        if (!QHostAddress(plain.host()).isNull() && plainFromPlain) {
            bool named = false;
            for (const sandbox::PolicyRule &rule : policy.rules)
                named = named || rule.domain == QLatin1String("*")
                        || rule.domain.compare(plain.host(), Qt::CaseInsensitive) == 0;
            FUZZ_CHECK(named);
        }
        // A rule naming the host as the address reads it lets it in, and so does one
        // naming a domain the host lies in (a name, not an address).
        for (const sandbox::PolicyRule &rule : policy.rules) {
            const QString name = rule.domain.startsWith(QLatin1String("*.")) ? rule.domain.mid(2) : rule.domain;
            const bool wildcard = name.size() < rule.domain.size();
            if (name.contains(u'*') || name.isEmpty())
                continue;
            if (!wildcard && name.compare(plain.host(), Qt::CaseInsensitive) == 0)
                FUZZ_CHECK(plainFromPlain);
            if (wildcard && QHostAddress(plain.host()).isNull()
                && plain.host().endsWith(QLatin1Char('.') + name.toLower()))
                FUZZ_CHECK(plainFromPlain);
        }
    }
    return 0;
}
