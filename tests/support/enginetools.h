#pragma once

// For tests that start the browser engine: one engine and one player host for the whole
// test process, as the program has one of each for its whole run, shared by each test
// function's fresh runtime. (Deleting the player host while a page the engine keeps
// still has a movie frame talking to it crashes the engine about one run in three;
// the program never does that.) Give every test addresses of its own: the engine's
// cache outlives a test.

#include "browserengine.h"
#include "playerhost.h"
#include "runtime.h"

#include <QString>

#include <memory>

namespace engine {

struct Shared
{
    std::shared_ptr<PlayerHost> host;
    std::shared_ptr<BrowserEngine> engine;
};

inline Shared &shared()
{
    static Shared s;
    return s;
}

// Puts the process's engine and player host behind rt, making them on first use.
inline BrowserEngine &shareWith(forms::Runtime &rt)
{
    Shared &s = shared();
    if (!s.engine) {
        s.host = std::make_shared<PlayerHost>();
        s.engine = std::make_shared<BrowserEngine>();
        s.engine->setPlayerHost(s.host.get());
    }
    rt.share(s.host);
    return rt.share(s.engine);
}

// Before the engine starts: the engine counts host (a loopback server of the test) as a
// server of the internet, as the real site is, so its rules for such pages apply.
inline void countAsInternet(const QString &host)
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --ip-address-space-overrides=" + host.toLatin1() + "=public");
}

// At the end of the test process (cleanupTestCase), while the application still runs:
// the engine's pages first, then the host they talked to.
inline void release()
{
    shared().engine.reset();
    shared().host.reset();
}

} // namespace engine
