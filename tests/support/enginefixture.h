#pragma once

// The engine tests' one fixture: a fresh runtime for each test function on the process's
// one engine and player host (enginetools.h), its main window made for a content host;
// and what the tests ask of pages and windows.

#include "enginetools.h"
#include "frmtest.h"
#include "runtimefixture.h"
#include "viewertools.h"

#include <QTest>

class EngineFixture : protected RuntimeFixture
{
protected:
    frmtest *main = nullptr;

    BrowserEngine &startEngineRuntime(const QString &contentHost)
    {
        startRuntime();
        BrowserEngine &shared = engine::shareWith(*rt);
        main = &rt->form<frmtest>();
        main->setContentHost(contentHost);
        return shared;
    }
    // The same, with the main window shown and on the screen.
    bool showMainFor(const QString &contentHost)
    {
        startEngineRuntime(contentHost);
        main->Show();
        return QTest::qWaitForWindowExposed(&main->window());
    }
    static QVariant js(QWebEnginePage *page, const QString &script) { return viewertools::js(page, script); }
    static QImage grab(QWidget &w) { return viewertools::grab(w); }
};
