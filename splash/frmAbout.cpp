// frmAbout is the splash: it fades in at start, then hands over to the main window.

#include "frmAbout.h"

#include "frmtest.h"
#include "numeric.h"
#include "runtime.h"

using forms::ControlKind;
using namespace Qt::StringLiterals;

frmAbout::frmAbout(forms::Runtime &runtime)
    : Form(runtime, Design()), m_user32(runtime.user32(), QStringLiteral("user32"))
{
    setObjectName(QStringLiteral("frmAbout"));
}

const forms::FormDesign &frmAbout::Design()
{
    static const QColor grey(0x80, 0x80, 0x80);
    static const forms::FormDesign design{
        .caption = u"Form1"_s,
        .border = forms::BorderStyle::None,
        .clientLeft = 5265, .clientTop = 2850, .clientWidth = 6465, .clientHeight = 4260,
        .background = forms::systemColor(9),
        .controls = {
            {.name = u"Label1"_s, .kind = ControlKind::Label, .caption = u"欢迎观赏Tirrin相册图鉴"_s,
             .left = 135, .top = 105, .width = 3360, .height = 210},
            {.name = u"Label7"_s, .kind = ControlKind::Label, .caption = u"X"_s,
             .left = 6240, .top = 60, .width = 135, .height = 180, .toolTip = u"关闭"_s,
             .accessibleName = u"关闭"_s, .description = u"关闭启动画面"_s},
            {.name = u"Image1"_s, .kind = ControlKind::Image,
             .left = 120, .top = 720, .width = 6165, .height = 2820, .picture = u":/splash/splash.bmp"_s},
            {.name = u"Label3"_s, .kind = ControlKind::Label, .caption = u"本软件图鉴由Ostavel群搜集"_s,
             .left = 150, .top = 3975, .width = 2625, .height = 255, .color = grey},
            {.name = u"Label4"_s, .kind = ControlKind::Label, .caption = u"程序: 小满 · 相册图鉴 1.00"_s,
             .left = 3480, .top = 3975, .width = 2760, .height = 225, .color = grey},
            {.name = u"Shape1"_s, .kind = ControlKind::Shape, .left = 0, .top = 0, .width = 6465, .height = 4260},
            {.name = u"Timer3"_s, .kind = ControlKind::Timer, .interval = 1, .enabled = true},   // fades in
            {.name = u"Timer1"_s, .kind = ControlKind::Timer, .interval = 2000, .enabled = false}, // holds
            {.name = u"Trans"_s, .kind = ControlKind::Timer, .interval = 0, .enabled = false},   // fades out
        },
    };
    return design;
}

void frmAbout::connectEvents()
{
    on(&Timer3(), &forms::Timer::Tick, [this] { Timer3_Timer(); });
    on(&Timer1(), &forms::Timer::Tick, [this] { Timer1_Timer(); });
    on(&Trans(), &forms::Timer::Tick, [this] { Trans_Timer(); });
    on(&Label7(), &forms::Label::Click, [this] { Label7_Click(); });
}

std::int32_t frmAbout::ApplyAlpha(quintptr hWnd, std::int16_t alpha)
{
    return opacity::applyAlpha(m_user32, hWnd, alpha);
}

void frmAbout::Form_Load()
{
    Trans().SetInterval(1);
    AlphaLimit = 255;
    CurrentAlpha = 0;
    ApplyAlpha(hWnd(), CurrentAlpha);
}

void frmAbout::Timer3_Timer()
{
    CurrentAlpha = forms::toInt16(CurrentAlpha + 5);
    if (CurrentAlpha - 1 < AlphaLimit) {
        ApplyAlpha(hWnd(), CurrentAlpha);
        return;
    }
    Timer3().SetEnabled(false);
    ApplyAlpha(hWnd(), 255);
    Timer1().SetEnabled(true);
}

void frmAbout::Timer1_Timer()
{
    Timer1().SetEnabled(false);
    AlphaLimit = 0;
    CurrentAlpha = 255;
    ApplyAlpha(hWnd(), CurrentAlpha);
    Trans().SetEnabled(true);
}

void frmAbout::Trans_Timer()
{
    CurrentAlpha = forms::toInt16(CurrentAlpha - 5);
    if (CurrentAlpha + 1 > AlphaLimit) {
        ApplyAlpha(hWnd(), CurrentAlpha);
        runtime().form<frmtest>().Show(); // the cross-fade: the main window fades in meanwhile
        return;
    }
    Trans().SetEnabled(false);
    ApplyAlpha(hWnd(), 0);
    Unload();
}

void frmAbout::Label7_Click()
{
    Unload();
}
