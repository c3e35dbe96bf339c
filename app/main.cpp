#include "application.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    int status = 0;
    if (!app::takeCommandLine(argc, argv, &status))
        return status;
    if (!app::testSwitchesValid())
        return 2;
    if (!app::displayReachable(argc, argv))
        return 1;
    app::prepareEnvironment();
    QApplication application(argc, argv);
    return app::run();
}
