#include "frmtest.h"

#include "catalogue.h"
#include "runtime.h"

frmtest::frmtest(forms::Runtime &runtime)
    : Form(runtime, Design()), m_contentHost(catalogue::contentHost())
{
    setObjectName(QStringLiteral("frmtest"));
}

void frmtest::connectEvents()
{
}

void frmtest::Form_Resize()
{
    // The window keeps one outer size; a size the platform refuses (minimized) is skipped.
    forms::ResumeNext onError;
    frmtest &self = runtime().form<frmtest>();
    onError([&] { self.SetHeight(6105); });
    onError([&] { self.SetWidth(4365); });
}
