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
        std::fprintf(stderr, "content_mirror: cannot listen on port %u: %s\n", port,
                     qPrintable(mirror.errorString()));
        return 1;
    }
    std::printf("serving %s on http://%s\n", qPrintable(SiteMirror::defaultRoot()), qPrintable(mirror.host()));
    std::fflush(stdout);
    return app.exec();
}
