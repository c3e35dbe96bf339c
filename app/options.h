#pragma once

// The command line: a few options on how the run opens its links.

#include <QString>
#include <QStringList>
#include <QUrl>

namespace app {

struct Options
{
    bool help = false;
    bool archive = false; // every link of the run from the archive
    QUrl archivePrefix;   // which archive (also the one a failed link offers)
    QString archiveDate;  // which captures are preferred
    QString error;        // one line, when the command line cannot be taken
};

// arguments without the program's name. defaultDate: the build's date of the site's era.
Options parseOptions(const QStringList &arguments, const QString &defaultDate);
// What --help prints.
QString optionsHelp();

} // namespace app
