#pragma once

// For tests that start the browser engine and make a fresh one for each test function.

#include <QTest>

namespace engine {

// Deleting a browser profile finishes inside the engine after the call returns, in tasks
// that the Qt event loop runs; a new profile made before they have run can crash the
// engine (about one run in six of the viewer tests did). Nothing tells when they have
// run, so the loop runs for a second before the next profile.
inline void letProfileGo()
{
    QTest::qWait(1000);
}

} // namespace engine
