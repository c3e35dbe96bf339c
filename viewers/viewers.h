#pragma once

// The viewers module's one door: how a press reaches a viewer. The main window loads the
// module when it first needs a viewer and calls in here; nothing in the module reaches
// back into the main window.

#include "viewers_export.h"

#include "catalogue.h"

#include <QString>

class QWidget;

namespace forms {
class Runtime;
}

namespace viewers {

using catalogue::Viewer;

// Shows the viewer fresh for link, whoever asks: a viewer that is open is unloaded first,
// then loaded, so that it opens link as its load runs. Described to screen readers as
// what it shows: title, the chosen entry, or the address itself.
VIEWERS_EXPORT void show(forms::Runtime &runtime, Viewer viewer, const QString &link, const QString &title);

// Unloads the viewer if it was ever made, to make room for the next press's viewer (an
// album's player is held still for an album that may follow); one that never was is not
// made for it.
VIEWERS_EXPORT void unload(forms::Runtime &runtime, Viewer viewer);

// Makes ready at idle what the next press of the viewer would make first, so that the
// press finds it: the browser engine's profile for either viewer, and for the album
// viewer the emulator compiled in a hidden player (which fetches nothing from any site).
VIEWERS_EXPORT void prepare(forms::Runtime &runtime, Viewer viewer);

} // namespace viewers

// What the program resolves by name once it has loaded the module.
extern "C" {
// viewers::show, unload and prepare, for a caller that found them by name.
VIEWERS_EXPORT void photoforKP_showViewer(forms::Runtime &runtime, catalogue::Viewer viewer, const QString &link,
                                          const QString &title);
VIEWERS_EXPORT void photoforKP_unloadViewer(forms::Runtime &runtime, catalogue::Viewer viewer);
VIEWERS_EXPORT void photoforKP_prepareViewer(forms::Runtime &runtime, catalogue::Viewer viewer);
// The window that saves the whole catalogue (cataloguesaver.h), shown and started.
VIEWERS_EXPORT QWidget *photoforKP_saveCatalogue(forms::Runtime &runtime);
}
