// The main thread's longest stall while a page's movie loads compression bombs through
// the relay: small LZMA movies that state 256 MB, eight at once, from a host that gives
// no leave to read (so each is inflated to be checked). For scripts/bench-viewers.py.
//   bench_bomb
// Prints "name value" lines.
#include "benchtools.h"
#include "client.h"
#include "playerhost.h"
#include "server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include <lzma.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr qint64 Stated = 256LL * 1024 * 1024;
constexpr int Loads = 8;

// An LZMA movie (the "ZWS" form) of Stated bytes of zeros: a few tens of kilobytes.
QByteArray bomb()
{
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&z, &options) != LZMA_OK)
        return {};
    const QByteArray zeros(4 * 1024 * 1024, '\0');
    QByteArray packed(1 << 20, '\0');
    z.next_out = reinterpret_cast<uint8_t *>(packed.data());
    z.avail_out = size_t(packed.size());
    for (qint64 fed = 8; fed < Stated; fed += zeros.size()) {
        z.next_in = reinterpret_cast<const uint8_t *>(zeros.constData());
        z.avail_in = size_t(std::min<qint64>(zeros.size(), Stated - fed));
        while (z.avail_in > 0)
            if (lzma_code(&z, LZMA_RUN) != LZMA_OK)
                return {};
    }
    while (lzma_code(&z, LZMA_FINISH) == LZMA_OK) { }
    packed.truncate(packed.size() - qsizetype(z.avail_out));
    lzma_end(&z);
    // ZWS, version, stated length; then the packed size and the LZMA properties (5
    // bytes) without the alone format's 8-byte length.
    QByteArray swf("ZWS\x0a", 4);
    for (int i = 0; i < 4; ++i)
        swf.append(char((Stated >> (8 * i)) & 0xff));
    const quint32 packedSize = quint32(packed.size() - 13);
    for (int i = 0; i < 4; ++i)
        swf.append(char((packedSize >> (8 * i)) & 0xff));
    swf.append(packed.left(5)).append(packed.mid(13));
    return swf;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray movie("FWS\x0a\x15\x00\x00\x00\x78\x00\x05\x5f\x00\x00\x0f\xa0\x00\x00\x0c\x01\x00", 21);
    const QByteArray bombBytes = bomb();
    if (bombBytes.isEmpty())
        return 1;
    http::Server site([&](const http::Request &r, http::Response *s) {
        s->send(200, "application/x-shockwave-flash", r.path() == "/m.swf" ? movie : bombBytes);
    });
    http::Server other(
        [&](const http::Request &, http::Response *s) { s->send(200, "application/x-shockwave-flash", bombBytes); });
    site.listen(QHostAddress::LocalHost);
    other.listen(QHostAddress(QStringLiteral("127.0.0.3")));
    PlayerHost host;
    host.start();
    const PlayerHost::Player player = host.open(QStringLiteral("http://127.0.0.1:%1/m.swf").arg(site.port()));
    const QByteArray token = QUrl(host.base()).path().section('/', 1, 1).toLatin1();
    const auto ask = [&](const QByteArray &query) {
        return http::ClientReply::send(
            {QHostAddress::LocalHost, host.port(), false, QStringLiteral("127.0.0.1"),
             "127.0.0.1:" + QByteArray::number(host.port()), "/" + token + "/relay/" + player.session + query},
            "GET", {{"Sec-Fetch-Site", "same-origin"}, {"Sec-Fetch-Mode", "cors"}, {"Sec-Fetch-Dest", "empty"}}, {},
            &app);
    };
    std::unique_ptr<http::ClientReply> first(ask("?kind=movie"));
    bench::waitFor([&] { return first->isFinished(); });

    // The main thread's pulse: the longest gap between ticks of a 1 ms timer.
    QElapsedTimer since;
    qint64 longest = 0;
    QTimer pulse;
    pulse.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pulse, &QTimer::timeout, [&] { longest = std::max(longest, since.restart()); });
    std::vector<std::unique_ptr<http::ClientReply>> loads;
    const QByteArray target = QUrl::toPercentEncoding(QStringLiteral("http://127.0.0.3:%1/bomb.swf").arg(other.port()));
    since.start();
    pulse.start(1);
    for (int i = 0; i < Loads; ++i)
        loads.emplace_back(ask("?kind=load&url=" + target));
    bench::waitFor(
        [&] {
            bool all = true;
            for (auto &r : loads) {
                r->read(r->bytesAvailable());
                all = all && r->isFinished() && r->bytesAvailable() == 0;
            }
            return all;
        },
        120000);
    pulse.stop();
    bench::print("bomb_bytes", double(bombBytes.size()));
    bench::print("bomb_main_thread_stall_ms", double(longest));
    return 0;
}
