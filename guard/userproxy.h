#pragma once

// The user's proxy, for the web archive alone: where many of our users live, a public
// archive is reached only through a local proxy client. Read as other programs read it:
// the command line, then curl's environment variables, then the desktop's own setting.
// Live sites never go through it, and no page or movie can reach it.

#include "guard_export.h"

#include <QNetworkProxy>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace userproxy {

// A proxy's address: http://host:port, or socks5h://host:port where the proxy looks
// names up (socks5:// is taken as socks5h, since a lookup here may be poisoned where it
// matters). No port: 1080, as curl. Nothing else: no user or password, no path.
GUARD_EXPORT std::optional<QNetworkProxy> readAddress(const QString &text, QString *error = nullptr);

// Whether host is left out by a no_proxy list: "*", a name, or a domain ("example.org"
// and ".example.org" both cover its subdomains), without case.
GUARD_EXPORT bool isBypassed(const QStringList &noProxy, const QString &host);

// curl's variables for a connection to target: https_proxy or HTTPS_PROXY for https,
// http_proxy (lower case only) for http, then all_proxy or ALL_PROXY; no_proxy or
// NO_PROXY honoured. Nothing if none applies.
GUARD_EXPORT std::optional<QNetworkProxy> fromEnvironment(const QProcessEnvironment &env, const QUrl &target);

// GNOME's org.gnome.system.proxy, as `gsettings list-recursively org.gnome.system.proxy`
// prints it; nothing unless its mode is manual.
GUARD_EXPORT std::optional<QNetworkProxy> fromGnome(const QString &settings, const QUrl &target);
// KDE's kioslaverc; nothing unless its proxy type is manual (1).
GUARD_EXPORT std::optional<QNetworkProxy> fromKde(const QString &kioslaverc, const QUrl &target);
// The desktop's setting for target, read now (GNOME's, else KDE's); NoProxy if none.
GUARD_EXPORT QNetworkProxy fromDesktop(const QUrl &target);

} // namespace userproxy
