// Form2 is the page viewer: a small topmost window showing one page of the content site.

#include "Form2.h"

#include "browserengine.h"
#include "playerhost.h"
#include "runtime.h"
#include "viewerdesign.h"

using forms::ControlKind;
using namespace Qt::StringLiterals;

Form2::Form2(forms::Runtime &runtime) : ViewerForm(runtime, Design())
{
    setObjectName(QStringLiteral("Form2"));
}

const forms::FormDesign &Form2::Design()
{
    using viewerdesign::line;
    static const forms::FormDesign design = viewerdesign::window(2115, 2415, 7305, 6135,
                                                                 {
                                                                     {.name = u"Command1"_s,
                                                                      .kind = ControlKind::CommandButton,
                                                                      .caption = u"关闭"_s,
                                                                      .left = 2760,
                                                                      .top = 5640,
                                                                      .width = 1215,
                                                                      .height = 375,
                                                                      .tabIndex = 0},
                                                                     {.name = u"WebBrowser1"_s,
                                                                      .kind = ControlKind::Custom,
                                                                      .left = 480,
                                                                      .top = 720,
                                                                      .width = 6375,
                                                                      .height = 4695,
                                                                      .tabIndex = 1,
                                                                      .accessibleName = u"鉴赏页面"_s,
                                                                      .description = u"所选页面的内容"_s},
                                                                     viewerdesign::credit(5640, 5640, 2),
                                                                     viewerdesign::clover(1080, 120),
                                                                     line(u"Line1(0)"_s, {7080, 480, 7080, 5520}),
                                                                     line(u"Line1(1)"_s, {0, 0, 0, 5040}),
                                                                     line(u"Line1(2)"_s, {240, 600, 240, 5640}),
                                                                 });
    return design;
}

QWidget *Form2::createCustomControl(const forms::ControlDesign &d, QWidget *parent)
{
    Q_UNUSED(d);
    ViewerServices &services = ViewerServices::of(runtime());
    return new WebBrowser(services.engine(), services.host(), parent);
}
