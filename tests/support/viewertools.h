#pragma once

// For tests that look into viewers as a person would: what a page's script sees, where
// its movies stand on the screen, and whether they drew there.

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QRect>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <memory>
#include <optional>

#include "x11tools.h"

namespace viewertools {

// What script evaluates to in the page's own world (or in world), waiting for it.
inline QVariant js(QWebEnginePage *page, const QString &script, quint32 world = QWebEngineScript::MainWorld)
{
    // Shared with the callback: a page too busy to answer in time answers later, after
    // this has returned.
    auto answer = std::make_shared<std::optional<QVariant>>();
    page->runJavaScript(script, world, [answer](const QVariant &v) { *answer = v; });
    (void)QTest::qWaitFor([&] { return answer->has_value(); }, 10000);
    return answer->value_or(QVariant());
}

inline QImage grab(const QRect &screenArea)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, screenArea.x(), screenArea.y(), screenArea.width(), screenArea.height())
        .toImage();
}

inline QImage grab(QWidget &w)
{
    return grab(QRect(w.mapToGlobal(QPoint(0, 0)), w.size()));
}

// Where the player frames of the view's page stand, on the screen.
inline QList<QRect> playerFrames(QWebEngineView &view)
{
    QList<QRect> found;
    const QVariantList rects
        = js(view.page(),
             QStringLiteral("Array.from(document.querySelectorAll('iframe')).map(function (f) {"
                            " const r = f.getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })"))
              .toList();
    for (const QVariant &r : rects) {
        const QVariantList v = r.toList();
        found << QRect(view.mapToGlobal(QPoint(v[0].toInt(), v[1].toInt())), QSize(v[2].toInt(), v[3].toInt()));
    }
    return found;
}

// The page's own background, as its body has it ("rgb(r, g, b)").
inline QColor pageBackground(QWebEngineView &view)
{
    const QString css = js(view.page(), QStringLiteral("getComputedStyle(document.body).backgroundColor")).toString();
    const auto m = QRegularExpression(QStringLiteral("(\\d+), (\\d+), (\\d+)")).match(css);
    return m.hasMatch() ? QColor(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()) : QColor();
}

inline bool near(QColor a, QColor b, int tolerance = 12)
{
    return qAbs(a.red() - b.red()) < tolerance && qAbs(a.green() - b.green()) < tolerance
           && qAbs(a.blue() - b.blue()) < tolerance;
}

// Whether most of area shows something other than background: a movie drew there.
inline bool drawnOver(const QRect &area, QColor background)
{
    return QTest::qWaitFor(
        [&] {
            const QImage image = grab(area);
            int other = 0, all = 0;
            for (int y = 2; y < image.height() - 2; y += 4)
                for (int x = 2; x < image.width() - 2; x += 4, ++all)
                    other += !near(image.pixelColor(x, y), background);
            return all > 0 && other * 2 > all;
        },
        10000);
}

// A right click through the window system, as a person makes it.
inline void rightClickAt(QPoint screen)
{
    x11::xdotool({QStringLiteral("mousemove"), QString::number(screen.x()), QString::number(screen.y()),
                  QStringLiteral("click"), QStringLiteral("3")});
}

} // namespace viewertools
