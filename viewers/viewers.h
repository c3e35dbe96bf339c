#pragma once

// The viewers module's one door: how a press reaches a viewer. The main window loads the
// module when it first needs a viewer and calls in here; nothing in the module reaches
// back into the main window.

#include "viewers_export.h"

#include <QString>

namespace forms {
class Runtime;
}

namespace viewers {

enum class Viewer { Page, Album };

// Shows the viewer (loading it, so that it opens link as its load runs), described to
// screen readers as what it shows: title, the chosen entry, or the address itself.
VIEWERS_EXPORT void show(forms::Runtime &runtime, Viewer viewer, const QString &link, const QString &title);

// Makes ready at idle what the next press of the viewer would make first, so that the
// press finds it: the browser engine's profile for either viewer, and for the album
// viewer the emulator compiled in a hidden player (which fetches nothing from any site).
VIEWERS_EXPORT void prepare(forms::Runtime &runtime, Viewer viewer);

} // namespace viewers

// What the program resolves by name once it has loaded the module.
extern "C" {
// Puts the viewers' window classes behind their names (a command unloads them by name).
VIEWERS_EXPORT void photoforKP_registerViewers(forms::Runtime &runtime);
// viewers::show, for a caller that found it by name; viewer: 0 page, 1 album.
VIEWERS_EXPORT void photoforKP_showViewer(forms::Runtime &runtime, int viewer, const QString &link,
                                          const QString &title);
// viewers::prepare, likewise.
VIEWERS_EXPORT void photoforKP_prepareViewer(forms::Runtime &runtime, int viewer);
// The run's web archive (BrowserEngine::setArchiveForRun), before any viewer is made.
VIEWERS_EXPORT void photoforKP_setArchive(const QString &prefix, const QString &date, bool everything);
}
