#include "application.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    app::prepareEnvironment();
    QApplication application(argc, argv);
    return app::run();
}
