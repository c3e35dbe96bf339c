#include "loadnotice.h"

namespace loadnotice {

QString failureText(QWebEngineLoadingInfo::ErrorDomain domain, int code)
{
    using Info = QWebEngineLoadingInfo;
    switch (domain) {
    case Info::NoErrorDomain:
    case Info::HttpStatusCodeDomain: // the site's own page for it is what shows
        return {};
    case Info::CertificateErrorDomain:
        return QStringLiteral("网站的证书无效，页面没有打开。");
    default:
        break;
    }
    // The network stack's error numbers.
    switch (code) {
    case -3: // aborted: another load took its place, or it was stopped
        return {};
    case -20: // blocked by the program: an address a viewer may not go to
    case -301:
    case -302:
        return NotForViewers;
    case -300:
        return QStringLiteral("这不是有效的网址。");
    case -102:
        return Refused;
    case -105:
    case -137:
        return NotFound;
    case -106:
        return QStringLiteral("没有连接到网络。");
    case -7:
    case -118:
        return NoAnswer;
    default:
        return QStringLiteral("无法打开这个页面，请稍后再试。");
    }
}

bool archiveMayHelp(guard::Guard::Outcome outcome, QWebEngineLoadingInfo::ErrorDomain domain, int code)
{
    using Outcome = guard::Guard::Outcome;
    if (outcome == Outcome::NoName || outcome == Outcome::ConnectionRefused || outcome == Outcome::NoAnswer)
        return true;
    if (outcome != Outcome::None)
        return false;
    if (domain == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        return code == 404 || code == 410 || (code >= 500 && code <= 599);
    return domain == QWebEngineLoadingInfo::ConnectionErrorDomain
           && (code == -102 || code == -105 || code == -137 || code == -7 || code == -118);
}

QString statusText(int status)
{
    return status >= 500 ? ServerError : Gone;
}

QString guardText(guard::Guard::Outcome outcome)
{
    using Outcome = guard::Guard::Outcome;
    switch (outcome) {
    case Outcome::None:
        return {};
    case Outcome::Refused:
        return NotForViewers;
    case Outcome::NoName:
        return NotFound;
    case Outcome::ConnectionRefused:
        return Refused;
    case Outcome::NoAnswer:
        return NoAnswer;
    case Outcome::NotArchived:
        return NotArchived;
    case Outcome::ArchiveNoName:
        return ArchiveNotFound;
    case Outcome::ArchiveRefused:
        return ArchiveRefused;
    case Outcome::ArchiveNoAnswer:
        return ArchiveNoAnswer;
    case Outcome::ArchiveBusy:
        return ArchiveBusy;
    case Outcome::ProxyRefused:
        return ProxyRefused;
    case Outcome::ProxyNeedsPassword:
        return ProxyNeedsPassword;
    }
    return {};
}

QString movieText(bool arrived, guard::Guard::Outcome outcome, int siteStatus, int status)
{
    if (arrived)
        return CannotPlay;
    if (const QString text = guardText(outcome); !text.isEmpty())
        return text;
    if (siteStatus == 404 || siteStatus == 410 || siteStatus >= 500)
        return statusText(siteStatus);
    return status == 415 ? CannotPlay : AlbumFailed;
}

} // namespace loadnotice
