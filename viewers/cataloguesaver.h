#pragma once

// Saves the whole catalogue into the copy the run keeps: each entry of each catalogue is
// opened from the archive in its own viewer, in turn, as a person would open it, until
// the page has loaded and its movies have played a while, or the album has played a
// while, so that what movies load as they play is kept too. A small window says how far
// it is, what failed, and cancels; from a terminal, a line per entry says the same.

#include "viewers_export.h"

#include "catalogue.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace forms {
class Runtime;
}

class VIEWERS_EXPORT CatalogueSaver : public QWidget
{
    Q_OBJECT
public:
    struct Times
    {
        int pageMs = 5000; // a page's movies play this long after the last one drew
        int albumMs = 15000; // an album plays this long
        int entryMs = 90000; // an entry that takes longer failed
    };
    // PHOTOFORKP_SAVE_TIMES=PAGE_MS,ALBUM_MS shortens the play times (tests).
    static Times timesFromEnvironment();

    struct Entry
    {
        catalogue::Viewer viewer;
        QString link;
        QString name; // 邮票鉴赏 · 爱迪鹅日
    };
    // Every entry of the five catalogues, in the main window's order.
    static QList<Entry> everyEntry(const QString &host);

    CatalogueSaver(forms::Runtime &runtime, QList<Entry> entries, Times times);
    ~CatalogueSaver() override;
    void start();
    int done() const { return m_next; }
    int total() const { return int(m_entries.size()); }
    int savedWhole() const { return m_whole; }
    QStringList failures() const { return m_failures; } // name: why
    bool isRunning() const { return m_running; }

signals:
    void finished();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void openNext();
    void check();
    void entryDone(bool saved, bool whole, const QString &why);
    void end(bool cancelled);
    void say(const QString &line);

    forms::Runtime &m_runtime;
    QList<Entry> m_entries;
    Times m_times;
    int m_next = 0;
    int m_whole = 0;
    QStringList m_failures;
    bool m_running = false;
    QTimer m_tick;
    QElapsedTimer m_sinceOpen;
    qint64 m_drawnAt = -1; // ms since open: the page loaded, or the album drew
    qint64 m_lastMovieAt = -1; // a movie of the page drew last
    int m_movieFailures = 0;
    QProgressBar *m_bar;
    QLabel *m_entry;
    QLabel *m_count;
    QListWidget *m_failed;
    QPushButton *m_button;
    bool m_toTerminal;
};
