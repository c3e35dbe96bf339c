// Test and benchmark programs run from their own folders of the build tree; the program's
// viewers module and the emulator sit beside the program, in build/app. The program finds
// them beside itself, so these programs say where, as its environment may.
#include <QByteArray>
#include <QtGlobal>

namespace {

const bool pointed = [] {
    if (!qEnvironmentVariableIsSet("PHOTOFORKP_VIEWERS_DIR"))
        qputenv("PHOTOFORKP_VIEWERS_DIR", QByteArray(PHOTOFORKP_APP_BUILD_DIR));
    if (!qEnvironmentVariableIsSet("PHOTOFORKP_EMULATOR_DIR"))
        qputenv("PHOTOFORKP_EMULATOR_DIR", QByteArray(PHOTOFORKP_APP_BUILD_DIR "/ruffle"));
    return true;
}();

} // namespace
