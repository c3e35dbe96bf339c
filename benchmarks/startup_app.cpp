// The program itself, with a probe that reports its first frame.
#include "application.h"
#include "firstframe.h"

int main(int argc, char *argv[])
{
    app::prepareEnvironment();
    QApplication application(argc, argv);
    application.installEventFilter(new FirstFrameProbe(&application));
    return app::run();
}
