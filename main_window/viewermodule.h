#pragma once

#include <QString>

namespace forms {
class Form;
class Runtime;
}

// The viewer windows (Form1, Form2) live in a module that is loaded the first time one
// is needed; the main window reaches them by class name.
namespace viewermodule {

// The viewer's instance, loading the module first if needed; raises if it cannot load.
forms::Form &viewer(forms::Runtime &runtime, const QString &className);

// Unloads the viewer if it was ever created; one that never was is not loaded either.
void unload(forms::Runtime &runtime, const QString &className);

} // namespace viewermodule
