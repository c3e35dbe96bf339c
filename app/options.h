#pragma once

// The command line: a few options on how the run opens its links.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QNetworkProxy>
#include <QUrl>

#include <optional>
#include <functional>

namespace app {

struct Options
{
    bool help = false;
    bool version = false;
    bool archive = false; // every link of the run from the archive
    QUrl archivePrefix; // which archive (also the one a failed link offers)
    bool archiveUrlGiven = false;
    // --proxy: the user's proxy to the archive (NoProxy for "none"); unset: the
    // environment's, else the desktop's.
    std::optional<QNetworkProxy> proxy;
    QString archiveDate; // which captures are preferred
    // --archive-file: web-archive files that every link of the run comes from, with no
    // network; given without a name, one is asked for with the file dialog.
    QStringList archiveFiles;
    bool askArchiveFile = false;
    QString saveCopy; // --save-copy: the WACZ that keeps what the archive gives
    // --save-catalogue: every entry from the archive into this WACZ, in place of the main
    // window; given without a name, one is asked for with the file dialog.
    QString saveCatalogue;
    bool askSaveCatalogue = false;
    QString error; // one line, when the command line cannot be taken
};

// arguments without the program's name. defaultDate: the build's date of the site's era.
Options parseOptions(const QStringList &arguments, const QString &defaultDate);
// An archive given by name must not lead to this machine or its network: there the
// viewers could not reach it, and a name is no way to say one's own replay server. The
// name is looked up for at most timeoutMs; one that does not resolve by then is kept
// (the machine may be offline for a moment). The error line, or empty.
QString judgeArchivePrefix(const QUrl &prefix, int timeoutMs);
// What --help prints.
QString optionsHelp();
// What --version prints: the name and the version.
QString versionLine();

// Whether the command line speaks Chinese: the first of LANGUAGE, LC_ALL, LC_MESSAGES
// and LANG that is set (not empty) names zh, any region. variable reads one.
bool wantsChinese(const std::function<QByteArray(const char *)> &variable);
// The command line's language from now on: Chinese, or English (its source texts).
void speakChinese(bool chinese);
// A text of the command line's, in its language (source: the English text).
QString said(const char *source);

} // namespace app
