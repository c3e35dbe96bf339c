#pragma once

// The program's start-up: environment, engine process choices, the splash first. What
// the program is called lives in identity.h.

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace warc {
class Collection;
}

namespace forms {
class Runtime;
}

namespace app {

// Whether Qt can reach a display to show windows on. Qt 6.4 aborts with a core dump when
// its X connection fails, so this says why in one line on stderr instead, and the caller
// leaves. A platform other than X that the user chose (offscreen, wayland) is left to Qt.
// Must run before the QApplication is created.
bool displayReachable(int argc, char *argv[]);

// The command line (options.h): false if the program should end at once with *status:
// after --help (0), or after one line on stderr for what it cannot take (2). Otherwise
// the run's archive is set.
bool takeCommandLine(int argc, char *argv[], int *status);

// PHOTOFORKP_PUBLIC_ADDRESSES (guard/addresses.h), the switch that lets tests play
// hostile sites on loopback: false, with one line on stderr, if its value is not a list
// of loopback addresses; while it is set, says so once on stderr. The same for
// PHOTOFORKP_TEST_CA_CERTS (http/client.h), certificates trusted on loopback alone.
bool testSwitchesValid();

// The web-archive files the run's links come from, opened; nothing, with the one line to
// print, if one of them cannot be used.
std::shared_ptr<warc::Collection> openArchiveFiles(const QStringList &paths, QString *error);
// Builds the copy --save-copy names from what the run kept; false (said on stderr) if it
// could not be made.
bool finishCopy();

// Keeps the toolkit from writing caches under the user's home: the program writes nothing.
// Must run before the QApplication is created.
void prepareEnvironment();

// The form runtime's default font: one that renders Simplified Chinese.
void applyDefaultFont();

// Loads and shows the start-up window and runs the event loop until no window is loaded.
// beforeStart lets a benchmark watch the windows; the program passes nothing.
int run(const std::function<void(forms::Runtime &)> &beforeStart = {});

} // namespace app
