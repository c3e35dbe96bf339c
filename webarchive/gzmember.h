#pragma once

// Gzip members, one per record: written with zlib's gzip wrapper, read one at a time
// from a device with one inflate stream reset between members, so that a scan of a
// large file costs no allocation per record. Internal to the layer.

#include <QByteArray>
#include <QString>

#include <zlib.h>

class QIODevice;

namespace warc::detail {

// One gzip member holding data; empty if zlib fails (out of memory).
QByteArray gzipMember(const QByteArray &data);

inline bool isGzip(const char *data, qint64 size)
{
    return size >= 2 && uchar(data[0]) == 0x1f && uchar(data[1]) == 0x8b;
}

class MemberReader
{
public:
    // Reads dev from its position, chunk bytes at a time.
    explicit MemberReader(QIODevice &dev, qint64 chunk = 1 << 20);
    ~MemberReader();
    MemberReader(const MemberReader &) = delete;
    MemberReader &operator=(const MemberReader &) = delete;

    enum Result {
        Member, // a whole member: offset, length, inflated and the kept bytes are set
        End, // no bytes left
        Torn, // the file ends inside a member
        NotGzip, // the bytes at offset are no gzip member
        Corrupt, // inflate refused the data (or its checksum)
        TooLarge, // it inflates past maxOut
        ReadError,
    };
    // Inflates the next member, keeping its first keep bytes (the rest is inflated into
    // a scratch buffer and dropped) and giving up past maxOut inflated bytes.
    Result next(qint64 keep, qint64 maxOut);

    qint64 offset = 0; // of the member last read, in the device
    qint64 length = 0; // its compressed length
    qint64 inflated = 0; // its inflated length
    const char *kept() const { return m_out.constData(); }
    qint64 keptSize() const { return m_outLen; }

private:
    bool refill(); // false at the end of the device
    QIODevice &m_dev;
    z_stream m_zs{};
    bool m_zsOk = false;
    QByteArray m_in;
    qint64 m_chunk;
    qint64 m_inPos = 0;
    qint64 m_inLen = 0;
    qint64 m_inBase = 0; // the device offset of m_in[0]
    bool m_eof = false;
    bool m_readError = false;
    QByteArray m_out; // its size is the capacity; m_outLen is used
    qint64 m_outLen = 0;
    QByteArray m_scratch;
};

} // namespace warc::detail
