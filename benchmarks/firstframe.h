#pragma once

// Shared by the start-up benchmark's two programs: when the first top-level window has
// painted and its frame has gone out, print the monotonic clock and the peak memory,
// then quit.

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>

class FirstFrameProbe : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->isWindow()) {
            m_seen = true;
            // The paint is done once control is back in the event loop.
            QTimer::singleShot(0, [] {
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
                std::printf("first-frame-ns %lld\n", static_cast<long long>(ns));
                QTimer::singleShot(300, [] {
                    QFile status(QStringLiteral("/proc/self/status"));
                    if (status.open(QIODevice::ReadOnly)) {
                        for (const QByteArray &line : status.readAll().split('\n'))
                            if (line.startsWith("VmHWM:"))
                                std::printf("peak-kb %s\n", line.mid(6).trimmed().split(' ').value(0).constData());
                    }
                    std::fflush(stdout);
                    std::_Exit(0);
                });
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};
