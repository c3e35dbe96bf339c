#pragma once

// Flash movies inside the site's pages, in real windows, against the local site copy on
// two hosts; the copy counts as a public address to the browser engine, as the real
// site is. What the tests of movies in pages ask of the page and the screen.

#include "Form2.h"
#include "enginefixture.h"
#include "sitemirror.h"
#include "viewertools.h"

#include <QFile>
#include <QTest>

#include <memory>

class PageFlashFixture : protected EngineFixture
{
protected:
    std::unique_ptr<SiteMirror> mirror;

    bool startMirror()
    {
        mirror = std::make_unique<SiteMirror>(SiteMirror::defaultRoot());
        return mirror->listen() && mirror->listenSecond();
    }
    // What the test function's runtime reported, as it stops.
    QString stopMain()
    {
        const QString errors = reportedText();
        stopRuntime();
        return errors;
    }

    WebBrowser &open(forms::CommandButton &button, const QString &title)
    {
        QTest::mouseClick(&button, Qt::LeftButton);
        WebBrowser &view = rt->form<Form2>().WebBrowser1();
        [&] { QTRY_COMPARE_WITH_TIMEOUT(view.title(), title, 20000); }();
        return view;
    }

    QVariant js(const QString &script) { return viewertools::js(rt->form<Form2>().WebBrowser1().page(), script); }

    // What a promise the page's script makes settles to.
    QString settled(const QString &promise)
    {
        js("window.settled = undefined; (" + promise
           + ").then(function (v) { window.settled = String(v); },"
             " function () { window.settled = 'rejected'; })");
        QString value;
        (void)QTest::qWaitFor(
            [&] {
                value = js("window.settled === undefined ? '' : window.settled").toString();
                return !value.isEmpty();
            },
            10000);
        return value;
    }

    // Where the page's player frames are, on the screen.
    QList<QRect> frames() { return viewertools::playerFrames(rt->form<Form2>().WebBrowser1()); }

    // Both of the movie's frames come, in the middle of where it stands.
    static bool plays(const QRect &frame, QColor first, QColor second)
    {
        bool sawFirst = false, sawSecond = false;
        return QTest::qWaitFor(
            [&] {
                const QColor c = viewertools::grab(QRect(frame.center(), QSize(1, 1))).pixelColor(0, 0);
                sawFirst = sawFirst || viewertools::near(c, first, 14);
                sawSecond = sawSecond || viewertools::near(c, second, 14);
                return sawFirst && sawSecond;
            },
            20000);
    }

    // The copy's first postcard, for pages served by a test's own site.
    static QByteArray cardMovie()
    {
        QFile card(SiteMirror::defaultRoot() + QStringLiteral("/kpfolder/flash/postcard1.swf"));
        return card.open(QIODevice::ReadOnly) ? card.readAll() : QByteArray();
    }
};
