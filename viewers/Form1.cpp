// Form1 is the album viewer: a small topmost window playing a Flash album.

#include "Form1.h"

#include "browserengine.h"
#include "playerhost.h"
#include "runtime.h"
#include "viewerdesign.h"

using forms::ControlKind;
using namespace Qt::StringLiterals;

Form1::Form1(forms::Runtime &runtime) : ViewerForm(runtime, Design())
{
    setObjectName(QStringLiteral("Form1"));
}

const forms::FormDesign &Form1::Design()
{
    using viewerdesign::line;
    static const forms::FormDesign design = viewerdesign::window(2490, 2790, 7275, 6510,
                                                                 {
                                                                     {.name = u"Command1"_s,
                                                                      .kind = ControlKind::CommandButton,
                                                                      .caption = u"关闭"_s,
                                                                      .left = 2400,
                                                                      .top = 5760,
                                                                      .width = 1455,
                                                                      .height = 495,
                                                                      .tabIndex = 1},
                                                                     {.name = u"ShockwaveFlash1"_s,
                                                                      .kind = ControlKind::Custom,
                                                                      .left = 360,
                                                                      .top = 720,
                                                                      .width = 6495,
                                                                      .height = 4815,
                                                                      .tabIndex = 0,
                                                                      .accessibleName = u"相册"_s,
                                                                      .description = u"所选相册的动画"_s},
                                                                     viewerdesign::credit(5280, 5880, 2),
                                                                     line(u"Line1(2)"_s, {240, 600, 240, 5640}),
                                                                     line(u"Line1(0)"_s, {7080, 480, 7080, 5520}),
                                                                     viewerdesign::clover(960, 120),
                                                                 });
    return design;
}

QWidget *Form1::createCustomControl(const forms::ControlDesign &d, QWidget *parent)
{
    Q_UNUSED(d);
    ViewerServices &services = ViewerServices::of(runtime());
    return new ShockwaveFlash(services.engine(), services.host(), parent);
}
