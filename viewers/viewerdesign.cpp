#include "viewerdesign.h"

using forms::ControlKind;
using namespace Qt::StringLiterals;

namespace viewerdesign {

forms::ControlDesign line(const QString &name, QLine ends)
{
    return {.name = name, .kind = ControlKind::Line, .line = ends, .color = Olive};
}

forms::ControlDesign clover(int left, int top)
{
    return {.name = u"Image1"_s,
            .kind = ControlKind::Image,
            .left = left,
            .top = top,
            .width = 4545,
            .height = 375,
            .picture = u":/viewers/clover.gif"_s};
}

forms::ControlDesign credit(int left, int top, int tabIndex)
{
    return {.name = u"Label1"_s,
            .kind = ControlKind::Label,
            .caption = u"整理: 小满"_s,
            .left = left,
            .top = top,
            .width = 1215,
            .height = 255,
            .tabIndex = tabIndex};
}

forms::FormDesign window(int clientLeft, int clientTop, int clientWidth, int clientHeight,
                         std::vector<forms::ControlDesign> controls)
{
    return {.caption = u"鉴赏页面"_s,
            .border = forms::BorderStyle::FixedToolWindow,
            .minButton = false,
            .maxButton = false,
            .clientLeft = clientLeft,
            .clientTop = clientTop,
            .clientWidth = clientWidth,
            .clientHeight = clientHeight,
            .controls = std::move(controls)};
}

} // namespace viewerdesign
