#pragma once

// For tests that start the browser engine: one engine for the whole test process, as the
// program has one for its whole run, shared by each test function's fresh runtime. (A
// profile made again right after one was deleted could crash the engine, and waiting
// for the old one to go cost a second a test.) Give every test addresses of its own:
// the engine's cache outlives a test.

#include "browserengine.h"
#include "runtime.h"

#include <memory>

namespace engine {

inline std::shared_ptr<BrowserEngine> &shared()
{
    static std::shared_ptr<BrowserEngine> e;
    return e;
}

// Puts the process's engine behind rt, making it on first use.
inline BrowserEngine &shareWith(forms::Runtime &rt)
{
    if (!shared())
        shared() = std::make_shared<BrowserEngine>();
    return rt.share(shared());
}

// At the end of the test process (cleanupTestCase), while the application still runs.
inline void release()
{
    shared().reset();
}

} // namespace engine
