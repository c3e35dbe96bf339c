#pragma once

// For tests that start the browser engine: one engine and one player host for the whole
// test process, as the program has one of each for its whole run, shared by each test
// function's fresh runtime. (Deleting the player host while a page the engine keeps
// still has a movie frame talking to it crashes the engine about one run in three;
// the program never does that.) Give every test addresses of its own: the engine's
// cache outlives a test.

#include "addresses.h"
#include "browserengine.h"
#include "playerhost.h"
#include "runtime.h"

#include <QString>

#include <memory>

namespace engine {

struct Shared
{
    std::shared_ptr<ViewerServices> services;
};

// The addresses tests serve their sites on count as the internet, as the real site
// is, so that the guard holds them to its rules; what stands for this machine in a
// test listens elsewhere on loopback (127.0.0.9, say). A test may set its own list.
inline void countTestSitesAsInternet()
{
    if (!qEnvironmentVariableIsSet(guard::PublicAddressesVariable))
        qputenv(guard::PublicAddressesVariable, "127.0.0.1,127.0.0.2,127.0.0.3,127.0.0.4");
}

inline Shared &shared()
{
    static Shared s;
    return s;
}

// Puts the process's engine and player host behind rt, making them on first use.
inline BrowserEngine &shareWith(forms::Runtime &rt)
{
    Shared &s = shared();
    if (!s.services) {
        countTestSitesAsInternet();
        // Names no DNS is asked about: "Text1" (the link field's design text) has no
        // host, at once, however slow the machine's resolver is to say so.
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --host-resolver-rules=\"MAP text1 ~NOTFOUND\"");
        s.services = std::make_shared<ViewerServices>();
    }
    return rt.share(s.services).engine();
}

// At the end of the test process (cleanupTestCase), while the application still runs:
// the engine's pages first, then the host they talked to.
inline void release()
{
    shared().services.reset();
}

} // namespace engine
