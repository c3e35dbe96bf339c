// Serves the local web archive of the site copy on 127.0.0.1.
//   content_archive PORT HOST [SECOND_HOST]
// HOST (and SECOND_HOST): the originals' host[:port] it holds captures for.
#include "sitearchive.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: content_archive PORT HOST [SECOND_HOST]\n");
        return 2;
    }
    SiteArchive archive(SiteArchive::defaultSiteRoot(), SiteArchive::defaultArchiveDir(), args.mid(2));
    if (!archive.listen(args[1].toUShort())) {
        std::fprintf(stderr, "content_archive: cannot serve on port %s: %s\n", qPrintable(args[1]),
                     qPrintable(archive.errorString()));
        return 1;
    }
    std::printf("serving the archive of %s on %s\n", qPrintable(args.mid(2).join(QLatin1String(", "))),
                qPrintable(archive.prefix()));
    std::fflush(stdout);
    return app.exec();
}
