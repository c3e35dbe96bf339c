#pragma once

#include "viewers_export.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWebEngineView>

class QWebEngineProfile;
class PlayerHost;

// The web browser control: a browser view that is told where to go.
class VIEWERS_EXPORT WebBrowser : public QWebEngineView
{
    Q_OBJECT
public:
    WebBrowser(QWebEngineProfile *profile, QWidget *parent);
    // Starts loading url; the text is handed to the engine as a user would type it.
    void Navigate(const QString &url);
};

// The Flash player control: the emulator's player page in a browser view, with a
// sandbox of its own on the player host for as long as the control lives.
class VIEWERS_EXPORT ShockwaveFlash : public QWebEngineView
{
    Q_OBJECT
public:
    ShockwaveFlash(QWebEngineProfile *profile, PlayerHost &host, QWidget *parent);
    ~ShockwaveFlash() override;
    QString Movie() const { return m_movie; }
    void SetMovie(const QString &movie);

private:
    PlayerHost &m_host;
    QString m_movie;
    QByteArray m_session;
};
