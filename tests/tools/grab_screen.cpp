// Saves what an X display shows to a PNG: the whole screen, or the frame of the first
// top-level window whose title contains a text.
//   grab_screen OUT.png [TITLE-PART]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QProcess>
#include <QRegularExpression>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: grab_screen OUT.png [TITLE-PART]\n");
        return 2;
    }
    QRect area;
    if (argc > 2) {
        QProcess p;
        p.start(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--name"), QString::fromUtf8(argv[2])});
        p.waitForFinished();
        const QString id = QString::fromUtf8(p.readAllStandardOutput()).split('\n').value(0).trimmed();
        if (id.isEmpty()) {
            std::fprintf(stderr, "no window titled %s\n", argv[2]);
            return 1;
        }
        p.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
        p.waitForFinished();
        const QString info = QString::fromUtf8(p.readAllStandardOutput());
        auto num = [&](const char *key) {
            const auto m = QRegularExpression(QString::fromLatin1(key) + QStringLiteral(":\\s+(-?\\d+)")).match(info);
            return m.captured(1).toInt();
        };
        area = QRect(num("Absolute upper-left X"), num("Absolute upper-left Y"), num("Width"), num("Height"));
        // Widen the client's rectangle by the frame the window manager drew around it.
        p.start(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("_NET_FRAME_EXTENTS")});
        p.waitForFinished();
        const auto ext = QRegularExpression(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)"))
                             .match(QString::fromUtf8(p.readAllStandardOutput()));
        if (ext.hasMatch())
            area.adjust(-ext.captured(1).toInt(), -ext.captured(3).toInt(), ext.captured(2).toInt(),
                        ext.captured(4).toInt());
    }
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    if (area.isValid())
        shot = shot.copy(area);
    return shot.save(QString::fromUtf8(argv[1])) ? 0 : 1;
}
