#pragma once

// The movie sandbox of the desktop Flash players, as decisions without any I/O: which
// addresses a movie may reach, what a host's /crossdomain.xml allows, and which answers
// are pictures or movies (which any host may serve to be shown).

#include "addressspace.h"
#include "player_export.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUrl>

namespace sandbox {

// Where an address stands: the guard's table, the one judge of addresses.
using guard::AddressSpace;
using guard::addressSpace;
// A movie from one space may reach the same or a more public one, never a more private
// one: a movie from the internet cannot reach the user's machine or home network
// through us (the browser engine holds pages to the same rule).
PLAYER_EXPORT bool mayReach(AddressSpace movie, AddressSpace target);
// A host as browsers read it: an address written in any of the spellings they take
// (IPv4 in one to four parts, each decimal, octal or hex; IPv6), localhost and its
// subdomains (always this machine), or a name only DNS can place.
struct HostSpace
{
    enum class Kind { Name, Known, Invalid } kind = Kind::Name;
    AddressSpace space = AddressSpace::Public; // for Known
};
PLAYER_EXPORT HostSpace hostSpace(const QString &host);
// Whether a page or a movie may hand url to the desktop's own web browser (for a new
// window a person asked for): a web address that is not this machine's or its
// network's by the way it is written.
PLAYER_EXPORT bool mayOpenInBrowser(const QUrl &url);

// Ports the browser engine refuses for HTTP (mail, shells, ...), refused here as well.
PLAYER_EXPORT bool isBlockedPort(int port);

PLAYER_EXPORT bool sameOrigin(const QUrl &a, const QUrl &b);
// Where the host's master policy file lives: scheme://host[:port]/crossdomain.xml.
PLAYER_EXPORT QUrl policyUrl(const QUrl &target);

struct PolicyRule
{
    QString domain; // "*", "*.example.org" or an exact host
    bool secure = true; // from an https policy: https movies only, unless secure="false"
};
struct Policy
{
    QList<PolicyRule> rules; // empty: nobody is allowed
    QString siteControl; // the meta-policy the file states, if it does
};
// A policy file's rules; anything that is not a well-formed cross-domain-policy
// document allows nobody, and so does site-control "none". Read as the desktop player
// read it: names as written (no namespaces), no DTD taken in, no entity expanded.
PLAYER_EXPORT Policy parsePolicy(QByteArrayView xml);
// A host's master policy file as its server answered it: the desktop player's rules on
// its type (text, XML or XHTML) and its meta-policy (the X-Permitted-Cross-Domain-
// Policies header, else the file's site-control, else master-only; "by-content-type"
// wants the policy type itself) decide whether its rules count at all.
PLAYER_EXPORT Policy policyFromAnswer(QByteArrayView body, const QByteArray &contentType,
                                      const QByteArray &metaPolicyHeader);
PLAYER_EXPORT bool domainMatches(const QString &pattern, const QString &host);
// Whether the policy served from policyOrigin lets a movie from movie read its host.
PLAYER_EXPORT bool policyAllows(const Policy &policy, const QUrl &movie, const QUrl &policyOrigin);

} // namespace sandbox
