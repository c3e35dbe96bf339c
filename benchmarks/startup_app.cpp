// The program itself, with a probe that reports its first frame.
#include "application.h"
#include "firstframe.h"

int main(int argc, char *argv[])
{
    app::prepareEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); // the browser views need it
    QApplication application(argc, argv);
    application.installEventFilter(new FirstFrameProbe(&application));
    return app::run();
}
