#include "viewerdesign.h"

namespace viewerdesign {

forms::ControlDesign line(const char *name, int x1, int y1, int x2, int y2)
{
    forms::ControlDesign d{name, forms::ControlKind::Line, {}, {}, x1, y1, x2, y2};
    d.color = Olive;
    return d;
}

forms::ControlDesign clover(int left, int top)
{
    forms::ControlDesign d{"Image1", forms::ControlKind::Image, {}, {}, left, top, 4545, 375};
    d.picture = QStringLiteral(":/viewers/clover.gif");
    return d;
}

forms::ControlDesign credit(int left, int top, int tabIndex)
{
    return {"Label1", forms::ControlKind::Label, {}, QStringLiteral("整理: 小满"), left, top, 1215, 255, tabIndex};
}

forms::FormDesign window(int clientLeft, int clientTop, int clientWidth, int clientHeight)
{
    forms::FormDesign d;
    d.caption = QStringLiteral("鉴赏页面");
    d.border = forms::BorderStyle::FixedToolWindow;
    d.minButton = false;
    d.maxButton = false;
    d.clientLeft = clientLeft;
    d.clientTop = clientTop;
    d.clientWidth = clientWidth;
    d.clientHeight = clientHeight;
    return d;
}

} // namespace viewerdesign
