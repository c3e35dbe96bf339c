#include "frmtest.h"

#include "catalogue.h"

using forms::ControlKind;

const forms::FormDesign &frmtest::Design()
{
    static const forms::FormDesign design = [] {
        forms::FormDesign d;
        d.caption = QStringLiteral("Bramoth相册图鉴 For Ostavel");
        d.border = forms::BorderStyle::Sizable;
        d.minButton = true;
        d.maxButton = false;
        d.clientLeft = 10980;
        d.clientTop = 3300;
        d.clientWidth = 4245;
        d.clientHeight = 5595;
        d.icon = QStringLiteral(":/icons/photoforKP.ico");
        const auto list = [](const catalogue::Catalogue &c) { return catalogue::keys(c); };
        d.controls = {
            {"Frame1", ControlKind::Frame, {}, QStringLiteral("邮票鉴赏"), 120, 120, 3975, 855, 0},
            {"Combo1", ControlKind::DropDownList, "Frame1", {}, 240, 360, 2055, 300, 1, list(catalogue::festivalStamps())},
            {"Command1", ControlKind::CommandButton, "Frame1", QStringLiteral("邮票鉴赏"), 2520, 360, 1095, 375, 2},
            {"Text1", ControlKind::TextBox, {}, QStringLiteral("Text1"), 7080, 600, 3015, 375, 3},
            {"Frame2", ControlKind::Frame, {}, QStringLiteral("明信片鉴赏"), 120, 1080, 3975, 855, 4},
            {"Command2", ControlKind::CommandButton, "Frame2", QStringLiteral("明信片鉴赏"), 2520, 360, 1095, 375, 5},
            {"Combo2", ControlKind::DropDownList, "Frame2", {}, 240, 360, 2055, 300, 6, list(catalogue::postcards())},
            {"Frame3", ControlKind::Frame, {}, QStringLiteral("图谱鉴赏"), 120, 2040, 3975, 855, 7},
            {"Combo3", ControlKind::DropDownList, "Frame3", {}, 240, 360, 1935, 300, 8, list(catalogue::atlas())},
            {"Command3", ControlKind::CommandButton, "Frame3", QStringLiteral("图谱鉴赏"), 2520, 360, 1095, 375, 9},
            {"Frame4", ControlKind::Frame, {}, QStringLiteral("各级礼包"), 120, 3000, 3975, 855, 10},
            {"Label1", ControlKind::Label, "Frame4", QStringLiteral("级"), 1920, 360, 255, 255, 11},
            {"Command4", ControlKind::CommandButton, "Frame4", QStringLiteral("查  阅"), 2520, 240, 1215, 375, 12},
            {"Text2", ControlKind::TextBox, "Frame4", QStringLiteral("6"), 240, 345, 1575, 270, 13},
            {"Frame5", ControlKind::Frame, {}, QStringLiteral("相册鉴赏"), 120, 3960, 3975, 855, 14},
            {"Command5", ControlKind::CommandButton, "Frame5", QStringLiteral("相册鉴赏"), 2520, 360, 1215, 375, 15},
            {"Combo4", ControlKind::DropDownList, "Frame5", {}, 240, 360, 1815, 300, 16, list(catalogue::albums())},
            {"Label2", ControlKind::Label, {}, QStringLiteral("本软件仅供个人喜好鉴赏之用.感谢您的使用!"), 240, 4920, 3735, 255, 17},
            {"Label3", ControlKind::Label, {}, QStringLiteral("作者: 小满"), 2880, 5280, 975, 255, 18},
        };
        // What screen readers hear where a caption does not say it.
        const auto describe = [&d](const char *name, const QString &accessibleName, const QString &description) {
            for (forms::ControlDesign &c : d.controls)
                if (c.name == QLatin1String(name)) {
                    c.accessibleName = accessibleName;
                    c.description = description;
                }
        };
        describe("Combo1", QStringLiteral("节日"), QStringLiteral("选择一个节日，再按“邮票鉴赏”看它的邮票"));
        describe("Combo2", QStringLiteral("明信片"), QStringLiteral("选择一张明信片，再按“明信片鉴赏”看它"));
        describe("Combo3", QStringLiteral("图谱"), QStringLiteral("选择一本图谱，再按“图谱鉴赏”看它"));
        describe("Combo4", QStringLiteral("相册"), QStringLiteral("选择一本相册，再按“相册鉴赏”播放它"));
        describe("Text1", QStringLiteral("当前链接"), QStringLiteral("最近一次打开的鉴赏页面的地址"));
        describe("Text2", QStringLiteral("礼包等级"), QStringLiteral("填写等级，再按“查阅”看这一级的礼包"));
        describe("Command4", QStringLiteral("查阅"), QStringLiteral("打开所填等级的礼包页面"));
        forms::ControlDesign timer{"Timer1", ControlKind::Timer};
        timer.interval = 10;
        timer.enabled = true;
        d.controls.push_back(timer);
        return d;
    }();
    return design;
}
