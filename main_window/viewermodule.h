#pragma once

#include <QString>

namespace forms {
class Form;
class Runtime;
}

// The viewer windows (Form1, Form2) live in a module that is loaded the first time one
// is needed; the main window reaches them through its door (viewers/viewers.h).
namespace viewermodule {

enum class Viewer { Page, Album };

// Loads the module (once) and puts its window classes behind their names; raises if it
// cannot load.
void load(forms::Runtime &runtime);

// Shows the viewer for link, described as title, loading the module first if needed.
void show(forms::Runtime &runtime, Viewer viewer, const QString &link, const QString &title);

// Unloads the viewer if it was ever created; one that never was is not loaded either.
void unload(forms::Runtime &runtime, Viewer viewer);

} // namespace viewermodule
