// The main window's (frmtest) controls: where each stands, its text, its tab order.

#include "frmtest.h"

#include "catalogue.h"

using forms::ControlKind;
using namespace Qt::StringLiterals;

const forms::FormDesign &frmtest::Design()
{
    using catalogue::keys;
    static const forms::FormDesign design{
        .caption = u"Bramoth相册图鉴 For Ostavel"_s,
        .border = forms::BorderStyle::Sizable,
        .minButton = true,
        .maxButton = false,
        .clientLeft = 10980, .clientTop = 3300, .clientWidth = 4245, .clientHeight = 5595,
        .icon = u":/icons/photoforKP.ico"_s,
        .controls = {
            {.name = u"Frame1"_s, .kind = ControlKind::Frame, .caption = u"邮票鉴赏"_s,
             .left = 120, .top = 120, .width = 3975, .height = 855, .tabIndex = 0},
            {.name = u"Combo1"_s, .kind = ControlKind::DropDownList, .container = u"Frame1"_s,
             .left = 240, .top = 360, .width = 2055, .height = 300, .tabIndex = 1,
             .items = keys(catalogue::festivalStamps()),
             .accessibleName = u"节日"_s, .description = u"选择一个节日，再按“邮票鉴赏”看它的邮票"_s},
            {.name = u"Command1"_s, .kind = ControlKind::CommandButton, .container = u"Frame1"_s, .caption = u"邮票鉴赏"_s,
             .left = 2520, .top = 360, .width = 1095, .height = 375, .tabIndex = 2},
            {.name = u"Text1"_s, .kind = ControlKind::TextBox, .caption = u"Text1"_s,
             .left = 7080, .top = 600, .width = 3015, .height = 375, .tabIndex = 3,
             .accessibleName = u"当前链接"_s, .description = u"最近一次打开的鉴赏页面的地址"_s},
            {.name = u"Frame2"_s, .kind = ControlKind::Frame, .caption = u"明信片鉴赏"_s,
             .left = 120, .top = 1080, .width = 3975, .height = 855, .tabIndex = 4},
            {.name = u"Command2"_s, .kind = ControlKind::CommandButton, .container = u"Frame2"_s, .caption = u"明信片鉴赏"_s,
             .left = 2520, .top = 360, .width = 1095, .height = 375, .tabIndex = 5},
            {.name = u"Combo2"_s, .kind = ControlKind::DropDownList, .container = u"Frame2"_s,
             .left = 240, .top = 360, .width = 2055, .height = 300, .tabIndex = 6,
             .items = keys(catalogue::postcards()),
             .accessibleName = u"明信片"_s, .description = u"选择一张明信片，再按“明信片鉴赏”看它"_s},
            {.name = u"Frame3"_s, .kind = ControlKind::Frame, .caption = u"图谱鉴赏"_s,
             .left = 120, .top = 2040, .width = 3975, .height = 855, .tabIndex = 7},
            {.name = u"Combo3"_s, .kind = ControlKind::DropDownList, .container = u"Frame3"_s,
             .left = 240, .top = 360, .width = 1935, .height = 300, .tabIndex = 8,
             .items = keys(catalogue::atlas()),
             .accessibleName = u"图谱"_s, .description = u"选择一本图谱，再按“图谱鉴赏”看它"_s},
            {.name = u"Command3"_s, .kind = ControlKind::CommandButton, .container = u"Frame3"_s, .caption = u"图谱鉴赏"_s,
             .left = 2520, .top = 360, .width = 1095, .height = 375, .tabIndex = 9},
            {.name = u"Frame4"_s, .kind = ControlKind::Frame, .caption = u"各级礼包"_s,
             .left = 120, .top = 3000, .width = 3975, .height = 855, .tabIndex = 10},
            {.name = u"Label1"_s, .kind = ControlKind::Label, .container = u"Frame4"_s, .caption = u"级"_s,
             .left = 1920, .top = 360, .width = 255, .height = 255, .tabIndex = 11},
            {.name = u"Command4"_s, .kind = ControlKind::CommandButton, .container = u"Frame4"_s, .caption = u"查  阅"_s,
             .left = 2520, .top = 240, .width = 1215, .height = 375, .tabIndex = 12,
             .accessibleName = u"查阅"_s, .description = u"打开所填等级的礼包页面"_s},
            {.name = u"Text2"_s, .kind = ControlKind::TextBox, .container = u"Frame4"_s,
             .caption = catalogue::toQString(catalogue::giftLevels().defaultKey),
             .left = 240, .top = 345, .width = 1575, .height = 270, .tabIndex = 13,
             .accessibleName = u"礼包等级"_s, .description = u"填写等级，再按“查阅”看这一级的礼包"_s},
            {.name = u"Frame5"_s, .kind = ControlKind::Frame, .caption = u"相册鉴赏"_s,
             .left = 120, .top = 3960, .width = 3975, .height = 855, .tabIndex = 14},
            {.name = u"Command5"_s, .kind = ControlKind::CommandButton, .container = u"Frame5"_s, .caption = u"相册鉴赏"_s,
             .left = 2520, .top = 360, .width = 1215, .height = 375, .tabIndex = 15},
            {.name = u"Combo4"_s, .kind = ControlKind::DropDownList, .container = u"Frame5"_s,
             .left = 240, .top = 360, .width = 1815, .height = 300, .tabIndex = 16,
             .items = keys(catalogue::albums()),
             .accessibleName = u"相册"_s, .description = u"选择一本相册，再按“相册鉴赏”播放它"_s},
            {.name = u"Label2"_s, .kind = ControlKind::Label, .caption = u"本软件仅供个人喜好鉴赏之用.感谢您的使用!"_s,
             .left = 240, .top = 4920, .width = 3735, .height = 255, .tabIndex = 17},
            {.name = u"Label3"_s, .kind = ControlKind::Label, .caption = u"作者: 小满"_s,
             .left = 2880, .top = 5280, .width = 975, .height = 255, .tabIndex = 18},
            {.name = u"Timer1"_s, .kind = ControlKind::Timer, .interval = 10, .enabled = true},
        },
    };
    return design;
}
