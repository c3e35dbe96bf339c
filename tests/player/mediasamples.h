#pragma once

// Small pictures and movies, whole and well formed, for the tests of what the player
// reads and relays.

#include <QByteArray>

#include <lzma.h>

namespace samples {

inline const QByteArray Swf = QByteArray("FWS\x08\x10\x00\x00\x00", 8) + QByteArray(8, '\0');
inline const QByteArray Gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff\x21\xf9\x04\x01\x00\x00\x00"
                            "\x00\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
                            43);
inline const QByteArray Png(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x01\x00\x00\x00"
    "\x01\x08\x02\x00\x00\x00\x90\x77\x53\xde\x00\x00\x00\x0c\x49\x44\x41\x54\x78\x9c\x63\xf8\xcf"
    "\xc0\x00\x00\x03\x01\x01\x00\xc9\xfe\x92\xef\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
    69);
// A JPEG by its structure: segments, a scan with stuffed and restart bytes, the end.
inline const QByteArray Jpeg("\xff\xd8\xff\xe0\x00\x04JF\xff\xda\x00\x02\x12\x34\xff\x00\x56\xff\xd0\x78\xff\xd9", 22);

// A movie's body compressed as a SWF does it, under a header stating stated bytes.
inline QByteArray compressedSwf(char how, const QByteArray &body, qint64 stated)
{
    QByteArray out = QByteArray(1, how) + "WS\x0a";
    for (int i = 0; i < 4; ++i)
        out += char((stated >> (8 * i)) & 0xff);
    if (how == 'C')
        return out + qCompress(body).mid(4); // a zlib stream, without Qt's size in front
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&z, &options) != LZMA_OK)
        return {};
    QByteArray packed(int(body.size()) + 1024, '\0');
    z.next_in = reinterpret_cast<const uint8_t *>(body.constData());
    z.avail_in = size_t(body.size());
    z.next_out = reinterpret_cast<uint8_t *>(packed.data());
    z.avail_out = size_t(packed.size());
    while (lzma_code(&z, LZMA_FINISH) == LZMA_OK) { }
    packed.truncate(packed.size() - qsizetype(z.avail_out));
    lzma_end(&z);
    // The SWF form: the data's length, the coder's properties, then the data (without
    // the stand-alone format's size).
    const qint64 data = packed.size() - 13;
    for (int i = 0; i < 4; ++i)
        out += char((data >> (8 * i)) & 0xff);
    return out + packed.left(5) + packed.mid(13);
}

} // namespace samples
