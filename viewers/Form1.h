#pragma once

#include "viewerform.h"
#include "webcontrols.h"

// The album viewer: a small topmost tool window playing the current link's movie.
class VIEWERS_EXPORT Form1 : public ViewerForm
{
    Q_OBJECT
public:
    explicit Form1(forms::Runtime &runtime);
    static const forms::FormDesign &Design();

    ShockwaveFlash &ShockwaveFlash1() { return control<ShockwaveFlash>(QStringLiteral("ShockwaveFlash1")); }

protected:
    void open(const QString &link, const QString &title) override
    {
        ShockwaveFlash1().setTitle(title);
        ShockwaveFlash1().SetMovie(link);
    }
    QWidget *createCustomControl(const forms::ControlDesign &d, QWidget *parent) override;
    ViewerView &view() override { return ShockwaveFlash1(); }
};
