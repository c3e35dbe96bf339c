#include "Form1.h"

#include "browserengine.h"
#include "playerhost.h"
#include "runtime.h"
#include "viewerdesign.h"

using forms::ControlKind;

Form1::Form1(forms::Runtime &runtime) : ViewerForm(runtime, Design())
{
    setObjectName(QStringLiteral("Form1"));
}

const forms::FormDesign &Form1::Design()
{
    static const forms::FormDesign design = [] {
        forms::FormDesign d = viewerdesign::window(2490, 2790, 7275, 6510);
        d.controls = {
            {"Command1", ControlKind::CommandButton, {}, QStringLiteral("关闭"), 2400, 5760, 1455, 495, 1},
            {"ShockwaveFlash1", ControlKind::Custom, {}, {}, 360, 720, 6495, 4815, 0},
            viewerdesign::credit(5280, 5880, 2),
            viewerdesign::line("Line1(2)", 240, 600, 240, 5640),
            viewerdesign::line("Line1(0)", 7080, 480, 7080, 5520),
            viewerdesign::clover(960, 120),
        };
        d.controls[1].accessibleName = QStringLiteral("相册");
        d.controls[1].description = QStringLiteral("所选相册的动画");
        return d;
    }();
    return design;
}

QWidget *Form1::createCustomControl(const forms::ControlDesign &d, QWidget *parent)
{
    Q_UNUSED(d);
    auto &engine = runtime().service<BrowserEngine>([] { return new BrowserEngine; });
    auto &host = runtime().service<PlayerHost>([] { return new PlayerHost; });
    return new ShockwaveFlash(engine, host, parent);
}
