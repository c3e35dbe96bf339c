#pragma once

#include "catalogue.h"

#include <QList>
#include <QString>

#include <functional>

class QWidget;

namespace forms {
class Form;
class Runtime;
} // namespace forms

// The viewer windows (Form1, Form2) live in a module that is loaded the first time one
// is needed, or at idle before that where the program has the viewers made ready ahead
// (enablePreparingAhead). The main window reaches them through the module's door
// (viewers/viewers.h), by the door's C names.
namespace viewermodule {

using catalogue::Viewer;

// Loads the module (once); raises if it cannot load.
void load();

// Saves every entry from the archive into the run's copy, in a window of its own, shown
// and started; it closes when the user closes it after the end.
QWidget *saveCatalogue(forms::Runtime &runtime);

// Shows the viewer fresh for link, described as title, loading the module first if needed.
void show(forms::Runtime &runtime, Viewer viewer, const QString &link, const QString &title);

// Unloads the viewer if it was ever made; with the module not loaded, none was.
void unload(forms::Runtime &runtime, Viewer viewer);

// Makes ready what the viewer's next press would make first (the module, the browser
// engine, for albums the compiled emulator); quietly nothing if the module cannot load,
// as the press itself will say.
void prepare(forms::Runtime &runtime, Viewer viewer);

// The program has the main window make the viewers ready ahead of a press: once it has
// faded in, and when the user is about to choose an album. Off unless asked for, so that
// a main window without the program (a test's) starts no browser engine.
void enablePreparingAhead(forms::Runtime &runtime);
bool preparesAhead(const forms::Runtime &runtime);

// Prepares the viewer when the pointer comes over one of the controls or one gets the
// focus (the user is about to choose), whenever ready() says the program has time.
void prepareOnIntent(forms::Runtime &runtime, Viewer viewer, const QList<QWidget *> &controls,
                     std::function<bool()> ready);

} // namespace viewermodule
