#include "browserengine.h"

#include <QWebEngineProfile>
#include <QWebEngineSettings>

BrowserEngine::BrowserEngine() = default;
BrowserEngine::~BrowserEngine() = default;

QWebEngineProfile *BrowserEngine::profile()
{
    if (!m_profile) {
        m_profile = std::make_unique<QWebEngineProfile>(); // no storage name: off the record
        m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        m_profile->setSpellCheckEnabled(false);
        // Albums start playing on their own, as a desktop player does.
        m_profile->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    }
    return m_profile.get();
}
