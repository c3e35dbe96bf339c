#pragma once

#include "viewers_export.h"

#include <memory>

class QWebEngineProfile;

// The browser engine's profile, shared by every viewer and kept in memory only: nothing
// the pages do is written to disk. Created when the first viewer opens, so the engine
// does not start with the program; it outlives every page (pages go first).
class VIEWERS_EXPORT BrowserEngine
{
public:
    BrowserEngine();
    ~BrowserEngine();
    QWebEngineProfile *profile();

private:
    std::unique_ptr<QWebEngineProfile> m_profile;
};
