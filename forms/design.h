#pragma once

#include "forms_export.h"

#include <QColor>
#include <QLine>
#include <QString>
#include <QStringList>

#include <vector>

namespace forms {

// Window designs are stored in twips; at 96 dpi a logical pixel is 15 twips. Qt scales
// logical pixels on high-DPI screens, so the layout keeps its proportions there too.
inline constexpr int TwipsPerPixel = 15;
constexpr int twipsToPixels(int twips)
{
    return twips >= 0 ? (twips + TwipsPerPixel / 2) / TwipsPerPixel : -((-twips + TwipsPerPixel / 2) / TwipsPerPixel);
}
constexpr int pixelsToTwips(int pixels)
{
    return pixels * TwipsPerPixel;
}

enum class ControlKind {
    Frame,
    Label,
    TextBox,
    DropDownList,
    CommandButton,
    Image,
    Line,
    Shape,
    Timer,
    Custom, // a component the form creates itself (browser, player)
};

// One control of a window's design. Tables name the fields they set, in this order:
// {.name = "Command1", .kind = ControlKind::CommandButton, .caption = ..., .left = 2520, ...}
struct ControlDesign
{
    QString name{};
    ControlKind kind = ControlKind::Label;
    QString container{}; // empty: the window's client area
    QString caption{}; // caption or initial text
    int left = 0, top = 0, width = 0, height = 0; // twips, in the container
    QLine line{}; // lines only: end points, twips
    int tabIndex = -1; // -1: takes no focus
    QStringList items{}; // drop-down list entries, in order
    QString picture{}; // resource path of an image
    QColor color{}; // line colour or label text colour
    QString toolTip{};
    int interval = 0; // timers, in ms
    bool enabled = true; // timers
    // For screen readers: a name where the caption does not give one, and what the
    // control does where the caption does not say it. Lines, shapes and images without
    // a name are decoration and stay out of the accessibility tree.
    QString accessibleName{};
    QString description{};
};

// A system colour by its index (COLOR_* numbering), from the platform's palette.
FORMS_EXPORT QColor systemColor(int index);

enum class BorderStyle { None, Sizable, FixedToolWindow };

struct FormDesign
{
    QString caption{};
    BorderStyle border = BorderStyle::Sizable;
    bool minButton = true;
    bool maxButton = true;
    int clientLeft = 0, clientTop = 0; // twips, screen coordinates
    int clientWidth = 0, clientHeight = 0; // twips
    QString icon{}; // resource path; empty: none
    QColor background{}; // invalid: the platform's dialog colour
    std::vector<ControlDesign> controls{};
};

} // namespace forms
