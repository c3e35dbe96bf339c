#pragma once

#include "viewerform.h"
#include "webcontrols.h"

// The web page viewer: a small topmost tool window showing the current link.
class VIEWERS_EXPORT Form2 : public ViewerForm
{
    Q_OBJECT
public:
    explicit Form2(forms::Runtime &runtime);
    static const forms::FormDesign &Design();

    WebBrowser &WebBrowser1() { return control<WebBrowser>(QStringLiteral("WebBrowser1")); }

protected:
    void open(const QString &link, const QString &) override { WebBrowser1().Navigate(link); }
    QWidget *createCustomControl(const forms::ControlDesign &d, QWidget *parent) override;
    ViewerView &view() override { return WebBrowser1(); }
};
