#include "application.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    app::prepareEnvironment();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); // the browser views need it
    QApplication application(argc, argv);
    return app::run();
}
