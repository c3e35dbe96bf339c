#pragma once

#include "viewers_export.h"

#include "guard.h"
#include "keeping.h"

#include <QString>
#include <QWebEngineLoadingInfo>

// What a viewer's page area says while the page the program asked for is not there.
namespace loadnotice {

// How a viewer watches the load it asked for, by the clock it is given: the engine's
// for every viewer, which tests give short times or a clock of their own.
struct Watch
{
    // Nothing drawn this long after the request: a quiet word that the page is coming.
    std::chrono::milliseconds loadingAfter{1000};
    // Not a byte from the site this long: it does not answer, and the viewer stops waiting.
    std::chrono::milliseconds noAnswerAfter{30000};
    keeping::Clock now = keeping::steadyNow;
};

inline const QString Loading = QStringLiteral("正在载入页面…");
inline const QString NoAnswer = QStringLiteral("网站没有应答，请稍后再试。");
inline const QString NotFound = QStringLiteral("找不到这个网站，请检查网址和网络连接。");
inline const QString Refused = QStringLiteral("网站拒绝了连接，请稍后再试。");
inline const QString NotForViewers = QStringLiteral("查看器不能打开这个页面。");
inline const QString NotArchived = QStringLiteral("存档中没有这个网页。");
inline const QString Gone = QStringLiteral("网站上已经没有这个网页。");
// The archive that stands in for the site: its own troubles are told as its own.
inline const QString ArchiveNoAnswer = QStringLiteral("网页存档没有应答，请稍后再试。");
inline const QString ArchiveRefused = QStringLiteral("网页存档拒绝了连接，请稍后再试。");
inline const QString ArchiveNotFound = QStringLiteral("找不到网页存档的服务器。");
inline const QString ArchiveBusy = QStringLiteral("网页存档正忙，请稍后再试。");
// The user's proxy to the archive.
inline const QString ProxyRefused = QStringLiteral("代理服务器拒绝了连接，请检查代理设置。");
inline const QString ProxyNeedsPassword = QStringLiteral("代理服务器需要密码，本程序不支持。");
// While a busy archive is waited for, to be asked again.
inline const QString ArchiveWaiting = QStringLiteral("网页存档正忙，稍后自动重试…");
inline const QString ServerError = QStringLiteral("网站出了问题，请稍后再试。");
// An album's own words, where a page's failure has none: the movie arrived and cannot
// be played, or it did not arrive for a reason of the player's own (too large, say).
inline const QString CannotPlay = QStringLiteral("无法播放这本相册。");
inline const QString AlbumFailed = QStringLiteral("无法载入相册，请稍后再试。");
// What a viewer whose link failed offers, when an archive may hold the page.
inline const QString OpenArchived = QStringLiteral("打开存档副本");
// The copy the run keeps (--save-copy) could not be written (a full disk, say).
inline const QString CopyFailed = QStringLiteral("无法继续写入存档副本，已写入的记录仍然保留。");

// Whether a failed first load is one an archived copy may stand in for: no such name,
// a refused connection, no answer, or the link itself answered 404, 410 or 5xx (the
// guard's outcome, else the engine's error domain and code).
VIEWERS_EXPORT bool archiveMayHelp(guard::Guard::Outcome outcome, QWebEngineLoadingInfo::ErrorDomain domain, int code);
// The message for a status of the site's that an archived copy may stand in for.
VIEWERS_EXPORT QString statusText(int status);

// What stands in the page's place when its load failed (the engine's own error page is
// off); empty where nothing should: a load given up for another, or an error status the
// site answered with a page of its own.
VIEWERS_EXPORT QString failureText(QWebEngineLoadingInfo::ErrorDomain domain, int code);
// The same, for a load the connection guard ended (empty: it ended none lately).
VIEWERS_EXPORT QString guardText(guard::Guard::Outcome outcome);
// What the album viewer says of a movie that does not play, in a page's words for the
// same cause: arrived, it cannot be played; else what kept it (outcome), else the site's
// status (0: the relay's own answer, status).
VIEWERS_EXPORT QString movieText(bool arrived, guard::Guard::Outcome outcome, int siteStatus, int status);

} // namespace loadnotice
