#include "cataloguesaver.h"

#include "Form1.h"
#include "Form2.h"
#include "browserengine.h"
#include "guard.h"
#include "loadnotice.h"
#include "playerhost.h"
#include "runtime.h"
#include "viewers.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr int TickMs = 100;

struct Named
{
    const catalogue::Catalogue &(*catalogue)();
    const char16_t *name;
    const char16_t *suffix; // after a key that is a number
};

} // namespace

CatalogueSaver::Times CatalogueSaver::timesFromEnvironment()
{
    Times times;
    const QStringList given = qEnvironmentVariable("PHOTOFORKP_SAVE_TIMES").split(u',');
    bool pageOk = false, albumOk = false;
    const int page = given.value(0).toInt(&pageOk), album = given.value(1).toInt(&albumOk);
    if (given.size() == 2 && pageOk && albumOk && page >= 0 && album >= 0 && page <= 60000 && album <= 60000) {
        times.pageMs = page;
        times.albumMs = album;
    }
    return times;
}

QList<CatalogueSaver::Entry> CatalogueSaver::everyEntry(const QString &host)
{
    static const Named named[] = {{&catalogue::festivalStamps, u"邮票鉴赏", u""},
                                  {&catalogue::postcards, u"明信片鉴赏", u""},
                                  {&catalogue::atlas, u"图谱鉴赏", u""},
                                  {&catalogue::giftLevels, u"各级礼包", u"级"},
                                  {&catalogue::albums, u"相册鉴赏", u""}};
    QList<Entry> entries;
    for (const Named &n : named) {
        const catalogue::Catalogue &c = n.catalogue();
        for (const catalogue::Entry &e : c.entries)
            entries.append({c.viewer, catalogue::link(host, e.path),
                            QString::fromUtf16(n.name) + QStringLiteral(" · ") + catalogue::toQString(e.key)
                                + QString::fromUtf16(n.suffix)});
    }
    return entries;
}

CatalogueSaver::CatalogueSaver(forms::Runtime &runtime, QList<Entry> entries, Times times)
    : m_runtime(runtime), m_entries(std::move(entries)), m_times(times)
{
    setWindowTitle(QStringLiteral("保存整个图鉴的存档副本"));
    auto *layout = new QVBoxLayout(this);
    m_entry = new QLabel(this);
    m_entry->setMinimumWidth(320);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, total());
    m_bar->setValue(0);
    m_bar->setAccessibleName(QStringLiteral("进度"));
    m_count = new QLabel(this);
    m_failed = new QListWidget(this);
    m_failed->setAccessibleName(QStringLiteral("未能保存的条目"));
    m_failed->setMaximumHeight(120);
    m_button = new QPushButton(QStringLiteral("取消"), this);
    m_button->setAutoDefault(true); // Enter presses it, as Space does
    layout->addWidget(m_entry);
    layout->addWidget(m_bar);
    layout->addWidget(m_count);
    layout->addWidget(m_failed);
    layout->addWidget(m_button, 0, Qt::AlignRight);
    connect(m_button, &QPushButton::clicked, this, [this] {
        if (m_running)
            end(true);
        else
            close();
    });
    m_tick.setInterval(TickMs);
    connect(&m_tick, &QTimer::timeout, this, &CatalogueSaver::check);
    PlayerHost &host = ViewerServices::of(m_runtime).host();
    connect(&host, &PlayerHost::movieState, this, [this](const QByteArray &, PlayerHost::MovieState state) {
        if (!m_running)
            return;
        if (state == PlayerHost::MovieState::Painted)
            m_lastMovieAt = m_sinceOpen.elapsed();
        else if (state == PlayerHost::MovieState::Failed)
            ++m_movieFailures;
    });
    // Nothing more can be kept: the rest would be visited for nothing.
    connect(&ViewerServices::of(m_runtime).engine(), &BrowserEngine::copyFailed, this, [this] {
        m_failures << loadnotice::CopyFailed;
        m_failed->addItem(loadnotice::CopyFailed);
        end(true);
    });
#ifdef Q_OS_UNIX
    m_toTerminal = ::isatty(STDOUT_FILENO);
#else
    m_toTerminal = false;
#endif
}

CatalogueSaver::~CatalogueSaver() = default;

void CatalogueSaver::start()
{
    m_running = true;
    m_count->setText(QStringLiteral("0 / %1").arg(total()));
    m_button->setFocus();
    openNext();
}

void CatalogueSaver::say(const QString &line)
{
    if (m_toTerminal) {
        std::fprintf(stdout, "%s\n", qPrintable(line));
        std::fflush(stdout);
    }
}

void CatalogueSaver::openNext()
{
    if (m_next >= total())
        return end(false);
    const Entry &e = m_entries[m_next];
    m_entry->setText(QStringLiteral("正在保存：") + e.name + QStringLiteral(" …"));
    m_drawnAt = m_lastMovieAt = -1;
    m_movieFailures = 0;
    // What a run before kept whole is kept as it is.
    const std::shared_ptr<wayback::Recorder> recorder
        = ViewerServices::of(m_runtime).engine().connectionGuard().routing().recorder();
    if (recorder && recorder->has(QUrl(e.link)))
        return entryDone(true, true, {});
    viewers::unload(m_runtime, e.viewer == catalogue::Viewer::Album ? catalogue::Viewer::Page
                                                                     : catalogue::Viewer::Album);
    m_sinceOpen.start();
    viewers::show(m_runtime, e.viewer, e.link, e.name);
    m_tick.start();
}

void CatalogueSaver::check()
{
    const Entry &e = m_entries[m_next];
    const bool album = e.viewer == catalogue::Viewer::Album;
    ViewerView &view = album ? static_cast<ViewerView &>(m_runtime.form<Form1>().ShockwaveFlash1())
                             : static_cast<ViewerView &>(m_runtime.form<Form2>().WebBrowser1());
    const qint64 now = m_sinceOpen.elapsed();
    const QString notice = view.notice();
    if (!notice.isEmpty() && notice != loadnotice::Loading && notice != loadnotice::ArchiveWaiting)
        return entryDone(false, false,
                         notice == loadnotice::NotArchived ? QStringLiteral("存档中没有") : notice);
    if (m_drawnAt < 0 && !view.archiveLabel().isEmpty())
        m_drawnAt = now;
    if (m_drawnAt >= 0) {
        const qint64 quietSince = std::max(m_drawnAt, m_lastMovieAt);
        if (now - quietSince >= (album ? m_times.albumMs : m_times.pageMs))
            return entryDone(true, m_movieFailures == 0, QStringLiteral("有动画未能载入"));
    }
    if (now >= m_times.entryMs)
        entryDone(false, false, QStringLiteral("没有载完"));
}

void CatalogueSaver::entryDone(bool saved, bool whole, const QString &why)
{
    m_tick.stop();
    const Entry &e = m_entries[m_next];
    if (saved && whole)
        ++m_whole;
    else
        m_failed->addItem(e.name + QStringLiteral("：") + why), m_failures << e.name + u':' + why;
    ++m_next;
    m_bar->setValue(m_next);
    m_count->setText(QStringLiteral("%1 / %2").arg(m_next).arg(total()));
    say(QStringLiteral("%1 / %2 %3: %4").arg(m_next).arg(total()).arg(e.name, saved && whole ? QStringLiteral("已保存") : why));
    // On the next turn: the viewer that told it may still be in its own handler.
    QTimer::singleShot(0, this, &CatalogueSaver::openNext);
}

void CatalogueSaver::end(bool cancelled)
{
    if (!m_running)
        return;
    m_running = false;
    m_tick.stop();
    viewers::unload(m_runtime, catalogue::Viewer::Page);
    viewers::unload(m_runtime, catalogue::Viewer::Album);
    QString summary = QStringLiteral("已完整保存 %1 个条目").arg(m_whole);
    if (cancelled)
        summary = QStringLiteral("已取消。") + summary;
    if (!m_failures.isEmpty())
        summary += QStringLiteral("，%1 个未能保存（见下）").arg(m_failures.size());
    m_entry->setText(summary + QStringLiteral("。"));
    say(summary);
    m_button->setText(QStringLiteral("关闭"));
    m_button->setFocus();
    emit finished();
}

void CatalogueSaver::closeEvent(QCloseEvent *event)
{
    end(true);
    QWidget::closeEvent(event);
}

void CatalogueSaver::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape)
        return QWidget::keyPressEvent(event);
    if (m_running)
        end(true);
    else
        close();
}
