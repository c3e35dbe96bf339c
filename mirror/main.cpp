// Serves the local copy of the content site on 127.0.0.1.
//   content_mirror [PORT] [ROOT]
#include "sitemirror.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const quint16 port = args.size() > 1 ? args[1].toUShort() : 0;
    SiteMirror mirror(args.size() > 2 ? args[2] : SiteMirror::defaultRoot());
    if (!mirror.listen(port)) {
        std::fprintf(stderr, "content_mirror: cannot listen on port %u: %s\n", port, qPrintable(mirror.errorString()));
        return 1;
    }
    if (!mirror.listenSecond())
        std::fprintf(stderr, "content_mirror: no second host on 127.0.0.2: %s\n", qPrintable(mirror.errorString()));
    std::printf("serving %s on http://%s and http://%s\n", qPrintable(SiteMirror::defaultRoot()),
                qPrintable(mirror.host()), qPrintable(mirror.secondHost()));
    std::fflush(stdout);
    return app.exec();
}
