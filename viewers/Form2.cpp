#include "Form2.h"

#include "browserengine.h"
#include "playerhost.h"
#include "runtime.h"
#include "viewerdesign.h"

using forms::ControlKind;

Form2::Form2(forms::Runtime &runtime) : ViewerForm(runtime, Design())
{
    setObjectName(QStringLiteral("Form2"));
}

const forms::FormDesign &Form2::Design()
{
    static const forms::FormDesign design = [] {
        forms::FormDesign d = viewerdesign::window(2115, 2415, 7305, 6135);
        d.controls = {
            {"Command1", ControlKind::CommandButton, {}, QStringLiteral("关闭"), 2760, 5640, 1215, 375, 0},
            {"WebBrowser1", ControlKind::Custom, {}, {}, 480, 720, 6375, 4695, 1},
            viewerdesign::credit(5640, 5640, 2),
            viewerdesign::clover(1080, 120),
            viewerdesign::line("Line1(0)", 7080, 480, 7080, 5520),
            viewerdesign::line("Line1(1)", 0, 0, 0, 5040),
            viewerdesign::line("Line1(2)", 240, 600, 240, 5640),
        };
        d.controls[1].accessibleName = QStringLiteral("鉴赏页面");
        d.controls[1].description = QStringLiteral("所选页面的内容");
        return d;
    }();
    return design;
}

QWidget *Form2::createCustomControl(const forms::ControlDesign &d, QWidget *parent)
{
    Q_UNUSED(d);
    auto &engine = runtime().service<BrowserEngine>([] { return new BrowserEngine; });
    auto &player = runtime().service<PlayerHost>([] { return new PlayerHost; });
    return new WebBrowser(engine, &player, parent);
}
