#pragma once

#include "loadnotice.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class BrowserEngine;
class QWebEnginePage;

// Watches the load a viewer asked for, by the engine's rule and clock (loadnotice::Watch):
// it asks the page, in a world of its own, whether the document asked for is there and
// has drawn, and says when the page area should tell that it is coming, that a busy
// archive is waited for, that the site does not answer, or that the page has shown.
class LoadWatch : public QObject
{
    Q_OBJECT
public:
    LoadWatch(BrowserEngine &engine, QWebEnginePage *page, QObject *parent = nullptr);
    // Called before the load is asked for: the rule is the engine's as it is now.
    void start();
    void stop() { m_timer.stop(); }
    // The viewer's own load, once it began (it stays until the next one begins).
    void setAsked(const QUrl &url) { m_asked = url; }
    QUrl asked() const { return m_asked; }

signals:
    // Nothing drawn for a while: the page is coming. Said at every look until it shows.
    void slow();
    // The archive that stands in for the site is busy and will be asked again; the watch
    // waits with it. Said at every look while it is.
    void archiveBusy();
    // Not a byte in time, from the archive (archived) or the site. The watch has stopped.
    void noAnswer(bool archived);
    // The document asked for has drawn.
    void shown();

private:
    void check();

    BrowserEngine &m_engine;
    QPointer<QWebEnginePage> m_page;
    QTimer m_timer;
    QUrl m_asked;
    loadnotice::Watch m_rule; // the engine's, as the load began
    std::chrono::milliseconds m_since{};
    qint64 m_requestedAt = 0;
    bool m_answered = false;
};
