#include "frmAbout.h"

#include "frmtest.h"
#include "numeric.h"
#include "runtime.h"

using forms::ControlKind;

frmAbout::frmAbout(forms::Runtime &runtime)
    : Form(runtime, Design()), m_user32(runtime.user32(), QStringLiteral("user32"))
{
    setObjectName(QStringLiteral("frmAbout"));
}

const forms::FormDesign &frmAbout::Design()
{
    static const forms::FormDesign design = [] {
        forms::FormDesign d;
        d.caption = QStringLiteral("Form1");
        d.border = forms::BorderStyle::None;
        d.clientLeft = 5265;
        d.clientTop = 2850;
        d.clientWidth = 6465;
        d.clientHeight = 4260;
        d.background = forms::systemColor(9);
        const QColor grey(0x80, 0x80, 0x80);
        forms::ControlDesign close{"Label7", ControlKind::Label, {}, QStringLiteral("X"), 6240, 60, 135, 180};
        close.toolTip = QStringLiteral("关闭");
        close.accessibleName = QStringLiteral("关闭");
        close.description = QStringLiteral("关闭启动画面");
        forms::ControlDesign picture{"Image1", ControlKind::Image, {}, {}, 120, 720, 6165, 2820};
        picture.picture = QStringLiteral(":/splash/splash.bmp");
        forms::ControlDesign collected{"Label3", ControlKind::Label, {}, QStringLiteral("本软件图鉴由Ostavel群搜集"),
                                       150, 3975, 2625, 255};
        collected.color = grey;
        forms::ControlDesign credit{"Label4", ControlKind::Label, {}, QStringLiteral("程序: 小满 · 相册图鉴 1.00"),
                                    3480, 3975, 2760, 225};
        credit.color = grey;
        d.controls = {
            {"Label1", ControlKind::Label, {}, QStringLiteral("欢迎观赏Tirrin相册图鉴"), 135, 105, 3360, 210},
            close,
            picture,
            collected,
            credit,
            {"Shape1", ControlKind::Shape, {}, {}, 0, 0, 6465, 4260},
        };
        forms::ControlDesign fadeIn{"Timer3", ControlKind::Timer};
        fadeIn.interval = 1;
        fadeIn.enabled = true;
        forms::ControlDesign hold{"Timer1", ControlKind::Timer};
        hold.interval = 2000;
        hold.enabled = false;
        forms::ControlDesign fadeOut{"Trans", ControlKind::Timer};
        fadeOut.interval = 0;
        fadeOut.enabled = false;
        d.controls.push_back(fadeIn);
        d.controls.push_back(hold);
        d.controls.push_back(fadeOut);
        return d;
    }();
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
