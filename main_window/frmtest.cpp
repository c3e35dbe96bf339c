// frmtest is the main window: five catalogues, each with its selector and button, and
// the link field; it fades in and out.

#include "frmtest.h"

#include "numeric.h"
#include "opacity.h"
#include "runtime.h"
#include "viewermodule.h"

#include <QTimer>

using catalogue::toQString;

frmtest::frmtest(forms::Runtime &runtime) : Form(runtime, Design()), m_contentHost(catalogue::contentHost())
{
    setObjectName(QStringLiteral("frmtest"));
}

void frmtest::connectEvents()
{
    on(&Command1(), &forms::CommandButton::Click, [this] { Command1_Click(); });
    on(&Command2(), &forms::CommandButton::Click, [this] { Command2_Click(); });
    on(&Command3(), &forms::CommandButton::Click, [this] { Command3_Click(); });
    on(&Command4(), &forms::CommandButton::Click, [this] { Command4_Click(); });
    on(&Command5(), &forms::CommandButton::Click, [this] { Command5_Click(); });
    on(&Text2(), &forms::TextBox::Change, [this] { Text2_Change(); });
    on(&Text2(), &forms::TextBox::GotFocus, [this] { Text2_GotFocus(); });
    on(&Timer1(), &forms::Timer::Tick, [this] { Timer1_Timer(); });
}

void frmtest::Form_Load()
{
    // Fully transparent first: the window fades in from nothing.
    mdlmain::of(runtime()).SetWindowAlpha(*this, 0);
    FadingIn = true;
    Combo1().SetText(toQString(catalogue::festivalStamps().defaultKey));
    Combo2().SetText(toQString(catalogue::postcards().defaultKey));
    Combo3().SetText(toQString(catalogue::atlas().defaultKey));
    Combo4().SetText(toQString(catalogue::albums().defaultKey));
    // The user is about to choose an album: its emulator compiles meanwhile. Never while
    // the window fades, which keeps every tick.
    if (viewermodule::preparesAhead(runtime()))
        viewermodule::prepareOnIntent(runtime(), catalogue::Viewer::Album, {&Combo4(), &Command5()},
                                      [this] { return !Timer1().Enabled(); });
}

void frmtest::Form_Resize()
{
    // The window keeps one outer size; a size the platform refuses (minimized) is skipped.
    forms::ResumeNext onError;
    onError([&] { SetHeight(KeptHeight); });
    onError([&] { SetWidth(KeptWidth); });
}

void frmtest::Command1_Click()
{
    // Step by step: a failing step is skipped, and a failing test runs its assignment.
    forms::ResumeNext onError;
    const catalogue::Catalogue &c = catalogue::festivalStamps();
    QString title;
    catalogue::resolve(
        c, m_contentHost, [this] { return Combo1().Text(); },
        [&](const QString &link, const QString &key) {
            Text1().SetText(link);
            title = key;
        },
        catalogue::Steps::under(onError));
    onError([&] { viewermodule::unload(runtime(), catalogue::Viewer::Album); });
    onError([&] { viewermodule::unload(runtime(), catalogue::Viewer::Page); });
    onError([&] {
        const QString link = Text1().Text();
        viewermodule::show(runtime(), c.viewer, link, title.isEmpty() ? link : title);
    });
}

void frmtest::openCatalogue(const catalogue::Catalogue &c, const std::function<QString()> &key,
                            const std::function<QString(const QString &)> &describe)
{
    // What the viewer shows, for screen readers: the entry, or the link field's address
    // where nothing matched. No recovery: the first failure ends the command.
    QString title;
    catalogue::resolve(c, m_contentHost, key, [&](const QString &link, const QString &entry) {
        Text1().SetText(link);
        title = describe(entry);
    });
    viewermodule::unload(runtime(), catalogue::Viewer::Album);
    viewermodule::unload(runtime(), catalogue::Viewer::Page);
    const QString link = Text1().Text();
    viewermodule::show(runtime(), c.viewer, link, title.isEmpty() ? link : title);
}

void frmtest::Command2_Click()
{
    openCatalogue(
        catalogue::postcards(), [this] { return Combo2().Text(); }, [](const QString &k) { return k; });
}

void frmtest::Command3_Click()
{
    openCatalogue(
        catalogue::atlas(), [this] { return Combo3().Text(); }, [](const QString &k) { return k; });
}

void frmtest::Command4_Click()
{
    openCatalogue(
        catalogue::giftLevels(), [this] { return Text2().Text(); },
        [](const QString &level) { return level + QStringLiteral("级礼包"); });
}

void frmtest::Command5_Click()
{
    openCatalogue(
        catalogue::albums(), [this] { return Combo4().Text(); }, [](const QString &k) { return k; });
}

void frmtest::Text2_Change()
{
    // Only levels 1 to 50 may stand; anything else is wiped and the field keeps the focus.
    // Wiping changes the text once more, so this runs once nested; the second wipe
    // changes nothing and raises no further change.
    const double value = forms::numericPrefixValue(Text2().Text());
    if (value < 1 || value > 50) {
        Text2().SetText(QString());
        Text2().SetFocus();
        return;
    }
    // A valid level is selected whole, so the next key replaces it.
    Text2().SetSelStart(0);
    Text2().SetSelLength(int(Text2().Text().size()));
}

void frmtest::Text2_GotFocus()
{
    Text2().SetSelStart(0);
    Text2().SetSelLength(int(Text2().Text().size()));
}

void frmtest::Timer1_Timer()
{
    if (FadingIn) {
        CurrentAlpha = forms::toInt16(CurrentAlpha + 3);
        if (CurrentAlpha >= 255) {
            CurrentAlpha = 255;
            Timer1().SetEnabled(false);
            // Faded in: what the first press would make first is made now, at idle.
            if (viewermodule::preparesAhead(runtime()))
                QTimer::singleShot(0, this, [this] {
                    if (!Timer1().Enabled())
                        viewermodule::prepare(runtime(), catalogue::Viewer::Page);
                });
        }
        mdlmain::of(runtime()).SetWindowAlpha(*this, CurrentAlpha);
        return;
    }
    CurrentAlpha = forms::toInt16(CurrentAlpha - 2);
    if (CurrentAlpha > 0) {
        mdlmain::of(runtime()).SetWindowAlpha(*this, CurrentAlpha);
        return;
    }
    // The window goes at its last visible opacity; 0 is never applied to it.
    CurrentAlpha = 0;
    CloseAllowed = true;
    Unload();
}

void frmtest::Form_Unload(std::int16_t &Cancel)
{
    if (CloseAllowed)
        return;
    // Refused: every other window closes at once, and this one fades out first.
    Cancel = 1;
    FadingIn = false;
    Timer1().SetEnabled(true);
    for (forms::Form *window : runtime().Forms())
        window->Unload(); // this window's own request is nested, so it has no effect
}
