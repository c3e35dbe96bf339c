#pragma once

#include "viewers_export.h"

#include <QString>
#include <QWebEngineLoadingInfo>

// What a viewer's page area says while the page the program asked for is not there.
namespace loadnotice {

// Nothing drawn this long after the request: a quiet word that the page is coming.
inline constexpr int LoadingAfterMs = 1000;
// Not a byte from the site this long: it does not answer, and the viewer stops waiting.
inline constexpr int NoAnswerAfterMs = 30000;

inline const QString Loading = QStringLiteral("正在载入页面…");
inline const QString NoAnswer = QStringLiteral("网站没有应答，请稍后再试。");

// What stands in the page's place when its load failed (the engine's own error page is
// off); empty where nothing should: a load given up for another, or an error status the
// site answered with a page of its own.
VIEWERS_EXPORT QString failureText(QWebEngineLoadingInfo::ErrorDomain domain, int code);

} // namespace loadnotice
