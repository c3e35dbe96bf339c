#pragma once

// The program's start-up: environment, engine process choices, the splash first. What
// the program is called lives in identity.h.

#include <functional>

namespace forms {
class Runtime;
}

namespace app {

// Keeps the toolkit from writing caches under the user's home: the program writes nothing.
// Must run before the QApplication is created.
void prepareEnvironment();

// The form runtime's default font: one that renders Simplified Chinese.
void applyDefaultFont();

// Loads and shows the start-up window and runs the event loop until no window is loaded.
// beforeStart lets a benchmark watch the windows; the program passes nothing.
int run(const std::function<void(forms::Runtime &)> &beforeStart = {});

} // namespace app
