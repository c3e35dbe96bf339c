#include "gzmember.h"

#include <QIODevice>

#include <cstring>

namespace warc::detail {

QByteArray gzipMember(const QByteArray &data)
{
    z_stream zs{};
    // 15 + 16: a gzip wrapper (header and CRC trailer) rather than zlib's own.
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out;
    out.resize(qsizetype(deflateBound(&zs, uLong(data.size())) + 32));
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    const int rc = deflate(&zs, Z_FINISH);
    const qsizetype written = qsizetype(zs.total_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END)
        return {};
    out.resize(written);
    return out;
}

MemberReader::MemberReader(QIODevice &dev, qint64 chunk) : m_dev(dev), m_chunk(chunk)
{
    m_zsOk = inflateInit2(&m_zs, 15 + 16) == Z_OK;
    m_inBase = dev.pos();
    m_in.resize(qsizetype(chunk));
    m_scratch.resize(64 * 1024);
}

MemberReader::~MemberReader()
{
    if (m_zsOk)
        inflateEnd(&m_zs);
}

bool MemberReader::refill()
{
    if (m_eof)
        return false;
    // Keeps what is not consumed yet at the front.
    const qint64 left = m_inLen - m_inPos;
    if (left > 0 && m_inPos > 0)
        std::memmove(m_in.data(), m_in.constData() + m_inPos, size_t(left));
    m_inBase += m_inPos;
    m_inPos = 0;
    m_inLen = left;
    const qint64 got = m_dev.read(m_in.data() + m_inLen, m_in.size() - m_inLen);
    if (got < 0) {
        m_readError = true;
        m_eof = true;
        return false;
    }
    if (got == 0) {
        m_eof = true;
        return false;
    }
    m_inLen += got;
    return true;
}

MemberReader::Result MemberReader::next(qint64 keep, qint64 maxOut)
{
    if (!m_zsOk)
        return ReadError;
    while (m_inLen - m_inPos < 2 && refill()) { }
    if (m_readError)
        return ReadError;
    offset = m_inBase + m_inPos;
    length = 0;
    inflated = 0;
    m_outLen = 0;
    if (m_inLen - m_inPos == 0)
        return End;
    if (m_inLen - m_inPos < 2)
        return uchar(m_in[m_inPos]) == 0x1f ? Torn : NotGzip;
    if (!isGzip(m_in.constData() + m_inPos, 2))
        return NotGzip;
    inflateReset(&m_zs);
    for (;;) {
        if (m_inPos == m_inLen && !refill())
            return m_readError ? ReadError : Torn;
        m_zs.next_in = reinterpret_cast<Bytef *>(m_in.data() + m_inPos);
        m_zs.avail_in = uInt(m_inLen - m_inPos);
        char *out;
        qint64 room;
        if (m_outLen < keep) {
            if (m_outLen == m_out.size())
                m_out.resize(qsizetype(qMin(keep, qMax<qint64>(64 * 1024, m_out.size() * 2))));
            out = m_out.data() + m_outLen;
            room = qMin<qint64>(m_out.size(), keep) - m_outLen;
        } else {
            out = m_scratch.data();
            room = m_scratch.size();
        }
        m_zs.next_out = reinterpret_cast<Bytef *>(out);
        m_zs.avail_out = uInt(room);
        const int rc = inflate(&m_zs, Z_NO_FLUSH);
        const qint64 produced = room - qint64(m_zs.avail_out);
        if (m_outLen < keep)
            m_outLen += produced;
        inflated += produced;
        m_inPos = m_inLen - qint64(m_zs.avail_in);
        if (inflated > maxOut)
            return TooLarge;
        if (rc == Z_STREAM_END) {
            length = m_inBase + m_inPos - offset;
            return Member;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return Corrupt;
    }
}

} // namespace warc::detail
