#include "media.h"

#include <QList>

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace media {

Kind sniff(QByteArrayView head)
{
    if (head.startsWith("FWS") || head.startsWith("CWS") || head.startsWith("ZWS"))
        return Kind::Swf;
    if (head.startsWith("\xff\xd8\xff"))
        return Kind::Jpeg;
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return Kind::Png;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return Kind::Gif;
    return Kind::None;
}

bool typeFits(Kind kind, const QByteArray &contentType)
{
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    if (kind == Kind::None)
        return false;
    if (type.isEmpty())
        return true;
    if (kind == Kind::Swf)
        return type == "application/x-shockwave-flash" || type == "application/futuresplash"
               || type == "application/vnd.adobe.flash.movie" || type == "application/octet-stream";
    // A malformed type naming a script is refused whatever it starts with.
    return type.startsWith("image/") && !type.contains("svg") && !type.contains("script");
}

// One medium's structure, fed byte by byte (long runs it has no need to look at are
// passed over at once).
struct Check::Parser
{
    virtual ~Parser() = default;
    // Takes what it can of data; false if the medium is broken.
    virtual bool feed(const uchar *&data, const uchar *end) = 0;
    virtual bool done() const = 0;
    // The answer ended: whether the medium did too (a parser holding bytes back reads
    // them now).
    virtual bool end() { return done(); }
    // Bytes came after the medium's end that the parser took in (held back).
    virtual bool trailing() const { return false; }
    // Bytes a compressed medium has inflated to so far.
    virtual qint64 inflated() const { return 0; }
};

namespace {

using Byte = uchar;

// Passes over up to left bytes of [data, end); true once all of them have gone.
bool skip(qint64 &left, const Byte *&data, const Byte *end)
{
    const qint64 n = std::min<qint64>(left, end - data);
    data += n;
    left -= n;
    return left == 0;
}

class JpegParser : public Check::Parser
{
public:
    bool done() const override { return m_state == State::Done; }
    bool feed(const Byte *&data, const Byte *end) override
    {
        while (data < end && m_state != State::Done) {
            if (m_state == State::Skip) {
                if (skip(m_left, data, end))
                    m_state = m_marker == 0xda ? State::Entropy : State::MarkerFF;
                continue;
            }
            if (m_state == State::Entropy) {
                // Coded data runs to the next marker: 0xFF not followed by a stuffed 0
                // or a restart marker.
                const auto *ff = static_cast<const Byte *>(std::memchr(data, 0xff, size_t(end - data)));
                data = ff ? ff + 1 : end;
                if (ff)
                    m_state = State::EntropyFF;
                continue;
            }
            const Byte b = *data++;
            switch (m_state) {
            case State::Start0:
                if (b != 0xff)
                    return false;
                m_state = State::Start1;
                break;
            case State::Start1:
                if (b != 0xd8)
                    return false;
                m_state = State::MarkerFF;
                break;
            case State::MarkerFF:
                if (b != 0xff)
                    return false;
                m_state = State::Marker;
                break;
            case State::Marker:
                if (b != 0xff && !marker(b)) // 0xFF: fill before a marker
                    return false;
                break;
            case State::EntropyFF:
                if (b == 0x00 || (b >= 0xd0 && b <= 0xd7))
                    m_state = State::Entropy;
                else if (b != 0xff && !marker(b))
                    return false;
                break;
            case State::Length0:
                m_length = b << 8;
                m_state = State::Length1;
                break;
            case State::Length1:
                m_length |= b;
                if (m_length < 2)
                    return false;
                m_left = m_length - 2;
                m_state = State::Skip;
                if (m_left == 0)
                    m_state = m_marker == 0xda ? State::Entropy : State::MarkerFF;
                break;
            default:
                return false;
            }
        }
        return true;
    }

private:
    enum class State { Start0, Start1, MarkerFF, Marker, Length0, Length1, Skip, Entropy, EntropyFF, Done };
    bool marker(Byte b)
    {
        if (b == 0xd9) { // the end of the image
            m_state = State::Done;
            return true;
        }
        if (b == 0xd8 || b == 0x00)
            return false;
        if (b == 0x01 || (b >= 0xd0 && b <= 0xd7)) { // markers without a segment
            m_state = State::MarkerFF;
            return true;
        }
        m_marker = b;
        m_state = State::Length0;
        return true;
    }
    State m_state = State::Start0;
    Byte m_marker = 0;
    int m_length = 0;
    qint64 m_left = 0;
};

class PngParser : public Check::Parser
{
public:
    bool done() const override { return m_state == State::Done; }
    bool feed(const Byte *&data, const Byte *end) override
    {
        while (data < end && m_state != State::Done) {
            if (m_state == State::Data) {
                const qint64 n = std::min<qint64>(m_left, end - data);
                m_crc = crc32(m_crc, data, uInt(n));
                data += n;
                m_left -= n;
                if (m_left == 0)
                    m_state = State::Crc;
                continue;
            }
            m_buffer[m_have++] = *data++;
            if (m_state == State::Signature && m_have == 8) {
                if (std::memcmp(m_buffer.data(), "\x89PNG\r\n\x1a\n", 8) != 0)
                    return false;
                m_have = 0;
                m_state = State::ChunkHead;
            } else if (m_state == State::ChunkHead && m_have == 8) {
                const quint32 length
                    = quint32(m_buffer[0]) << 24 | quint32(m_buffer[1]) << 16 | quint32(m_buffer[2]) << 8 | m_buffer[3];
                std::memcpy(m_type.data(), m_buffer.data() + 4, 4);
                for (Byte c : m_type)
                    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                        return false;
                const bool header = std::memcmp(m_type.data(), "IHDR", 4) == 0;
                if (length > 0x7fffffffu || header != m_first || (header && length != 13))
                    return false;
                m_first = false;
                m_left = length;
                m_crc = crc32(crc32(0L, Z_NULL, 0), m_type.data(), 4);
                m_have = 0;
                m_state = m_left == 0 ? State::Crc : State::Data;
            } else if (m_state == State::Crc && m_have == 4) {
                const quint32 crc
                    = quint32(m_buffer[0]) << 24 | quint32(m_buffer[1]) << 16 | quint32(m_buffer[2]) << 8 | m_buffer[3];
                if (crc != m_crc)
                    return false;
                m_have = 0;
                m_state = std::memcmp(m_type.data(), "IEND", 4) == 0 ? State::Done : State::ChunkHead;
            }
        }
        return true;
    }

private:
    enum class State { Signature, ChunkHead, Data, Crc, Done };
    State m_state = State::Signature;
    std::array<Byte, 8> m_buffer{};
    std::array<Byte, 4> m_type{};
    int m_have = 0;
    qint64 m_left = 0;
    uLong m_crc = 0;
    bool m_first = true;
};

class GifParser : public Check::Parser
{
public:
    bool done() const override { return m_state == State::Done; }
    bool feed(const Byte *&data, const Byte *end) override
    {
        while (data < end && m_state != State::Done) {
            if (m_state == State::Skip) {
                if (skip(m_left, data, end))
                    m_state = m_after;
                continue;
            }
            const Byte b = *data++;
            switch (m_state) {
            case State::Header:
                m_buffer[m_have++] = b;
                if (m_have == 13) { // signature, then the logical screen descriptor
                    if (std::memcmp(m_buffer.data(), "GIF87a", 6) != 0
                        && std::memcmp(m_buffer.data(), "GIF89a", 6) != 0)
                        return false;
                    const Byte flags = m_buffer[10];
                    skipThen((flags & 0x80) ? 3 << ((flags & 7) + 1) : 0, State::Block);
                }
                break;
            case State::Block:
                if (b == 0x3b)
                    m_state = State::Done; // the trailer
                else if (b == 0x21)
                    m_state = State::Label;
                else if (b == 0x2c) {
                    m_have = 0;
                    m_state = State::Image;
                } else
                    return false;
                break;
            case State::Label:
                m_state = State::SubBlock;
                break;
            case State::Image:
                m_buffer[m_have++] = b;
                if (m_have == 9) { // position, size, flags; a colour table may follow
                    const Byte flags = m_buffer[8];
                    skipThen((flags & 0x80) ? 3 << ((flags & 7) + 1) : 0, State::CodeSize);
                }
                break;
            case State::CodeSize:
                if (b < 2 || b > 12)
                    return false;
                m_state = State::SubBlock;
                break;
            case State::SubBlock:
                if (b == 0)
                    m_state = State::Block;
                else
                    skipThen(b, State::SubBlock);
                break;
            default:
                return false;
            }
        }
        return true;
    }

private:
    enum class State { Header, Block, Label, Image, CodeSize, SubBlock, Skip, Done };
    void skipThen(qint64 n, State next)
    {
        m_left = n;
        m_after = next;
        m_state = n > 0 ? State::Skip : next;
    }
    State m_state = State::Header;
    State m_after = State::Block;
    std::array<Byte, 13> m_buffer{};
    int m_have = 0;
    qint64 m_left = 0;
};

// A SWF's body after its 8-byte header: as is, deflated or LZMA-compressed; it must
// come to exactly the length the header states.
class SwfParser : public Check::Parser
{
public:
    SwfParser(char signature, qint64 bodyLength) : m_signature(signature), m_body(bodyLength) { }
    ~SwfParser() override
    {
        if (m_zlib)
            inflateEnd(&m_z);
        if (m_lzmaStarted)
            lzma_end(&m_lzma);
    }
    bool done() const override { return m_done; }
    bool feed(const Byte *&data, const Byte *end) override
    {
        if (m_done)
            return true;
        if (m_signature == 'F') {
            if (skip(m_body, data, end))
                m_done = true;
            return true;
        }
        if (m_signature == 'C')
            return inflatePiece(data, end);
        return lzmaPiece(data, end);
    }

private:
    bool inflatePiece(const Byte *&data, const Byte *end)
    {
        if (!m_zlib) {
            if (inflateInit(&m_z) != Z_OK)
                return false;
            m_zlib = true;
        }
        m_z.next_in = const_cast<Byte *>(data);
        m_z.avail_in = uInt(end - data);
        while (m_z.avail_in > 0 && !m_done) {
            m_z.next_out = m_scratch.data();
            m_z.avail_out = uInt(m_scratch.size());
            const int status = ::inflate(&m_z, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return false;
            if (!counted(qint64(m_scratch.size() - m_z.avail_out)))
                return false;
            if (status == Z_STREAM_END) {
                if (m_out != m_body)
                    return false;
                m_done = true;
            } else if (status == Z_BUF_ERROR && m_z.avail_out != 0) {
                break;
            }
        }
        data = m_z.next_in;
        return true;
    }

    bool lzmaPiece(const Byte *&data, const Byte *end)
    {
        // 4 bytes of compressed length and 5 of the coder's properties, then its data.
        while (!m_lzmaStarted && data < end) {
            m_head[m_headHave++] = *data++;
            if (m_headHave == 9) {
                // Raw LZMA1 of the stated size, its end marker allowed but not needed
                // (movies are written both ways).
                lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
                if (lzma_properties_decode(&filters[0], nullptr, m_head.data() + 4, 5) != LZMA_OK)
                    return false;
                auto *options = static_cast<lzma_options_lzma *>(filters[0].options);
                filters[0].id = LZMA_FILTER_LZMA1EXT;
                options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
                options->ext_size_low = uint32_t(quint64(m_body));
                options->ext_size_high = uint32_t(quint64(m_body) >> 32);
                const bool ready
                    = options->dict_size <= 64u * 1024 * 1024 && lzma_raw_decoder(&m_lzma, filters) == LZMA_OK;
                std::free(options);
                if (!ready)
                    return false;
                m_lzmaStarted = true;
            }
        }
        if (!m_lzmaStarted || data == end)
            return true;
        // The last few bytes are held back until more come or the answer ends: the
        // coder tells its end marker from more data only when it has all of it.
        m_held.append(reinterpret_cast<const char *>(data), end - data);
        data = end;
        if (m_held.size() <= HeldBytes)
            return true;
        const auto *begin = reinterpret_cast<const Byte *>(m_held.constData());
        const Byte *at = begin;
        if (!lzmaRun(at, begin + m_held.size() - HeldBytes, LZMA_RUN))
            return false;
        m_trailing = m_trailing || (m_done && at != begin + m_held.size()); // what follows the movie
        m_held.remove(0, at - begin);
        return true;
    }
    bool end() override
    {
        if (m_signature != 'Z' || !m_lzmaStarted || m_done)
            return m_done;
        // What was held back, first as more of the stream (it may end inside it, and
        // the rest is what follows the movie), then as its last bytes.
        const auto *begin = reinterpret_cast<const Byte *>(m_held.constData());
        const Byte *at = begin;
        if (!lzmaRun(at, begin + m_held.size(), LZMA_RUN)
            || (!m_done && !lzmaRun(at, begin + m_held.size(), LZMA_FINISH)))
            return false;
        m_trailing = m_trailing || at != begin + m_held.size();
        return m_done;
    }
    bool trailing() const override { return m_trailing; }
    bool lzmaRun(const Byte *&data, const Byte *end, lzma_action action)
    {
        m_lzma.next_in = data;
        m_lzma.avail_in = size_t(end - data);
        while ((m_lzma.avail_in > 0 || action == LZMA_FINISH) && !m_done) {
            m_lzma.next_out = m_scratch.data();
            m_lzma.avail_out = m_scratch.size();
            const lzma_ret status = lzma_code(&m_lzma, action);
            // What it wrote counts first: the call that ends the movie may also say what
            // follows is no end marker.
            if (!counted(qint64(m_scratch.size() - m_lzma.avail_out)))
                return false;
            if (status == LZMA_DATA_ERROR && m_out == m_body) {
                // All of the movie came, and what follows is no end marker: it follows
                // the movie (the coder says so this way when it came in the same piece).
                m_done = m_trailing = true;
                break;
            }
            if (status != LZMA_OK && status != LZMA_STREAM_END)
                return false;
            if (status == LZMA_STREAM_END) {
                if (m_out != m_body)
                    return false;
                m_done = true;
            } else if (action == LZMA_FINISH && m_lzma.avail_in == 0 && m_scratch.size() == m_lzma.avail_out) {
                break; // nothing more to come of it
            }
        }
        data = m_lzma.next_in;
        return true;
    }
    bool counted(qint64 n)
    {
        m_out += n;
        return m_out <= m_body;
    }
    qint64 inflated() const override { return m_signature == 'F' ? 0 : m_out; }

    char m_signature;
    qint64 m_body;
    qint64 m_out = 0;
    bool m_done = false;
    bool m_zlib = false;
    z_stream m_z{};
    bool m_lzmaStarted = false;
    lzma_stream m_lzma = LZMA_STREAM_INIT;
    std::array<Byte, 9> m_head{};
    int m_headHave = 0;
    static constexpr qsizetype HeldBytes = 16;
    QByteArray m_held;
    bool m_trailing = false;
    std::array<Byte, 64 * 1024> m_scratch{};
};

} // namespace

Check::Check(qint64 maxMovieBytes, End end) : m_maxMovieBytes(maxMovieBytes), m_end(end) { }

Check::~Check() = default;

bool Check::feed(QByteArrayView piece)
{
    if (m_failed)
        return false;
    const auto *data = reinterpret_cast<const uchar *>(piece.data());
    const auto *end = data + piece.size();
    if (!m_parser) {
        // The head first: which medium, and (for a SWF) how long.
        const qsizetype need = SniffBytes - m_head.size();
        const qsizetype take = std::min<qsizetype>(need, end - data);
        m_head.append(reinterpret_cast<const char *>(data), take);
        data += take;
        if (m_head.size() < SniffBytes)
            return true;
        m_kind = sniff(m_head);
        switch (m_kind) {
        case Kind::None:
            return !(m_failed = true);
        case Kind::Swf: {
            const auto *h = reinterpret_cast<const uchar *>(m_head.constData());
            const qint64 length = qint64(h[4]) | qint64(h[5]) << 8 | qint64(h[6]) << 16 | qint64(h[7]) << 24;
            if (length < 8 || length > m_maxMovieBytes)
                return !(m_failed = true);
            m_parser = std::make_unique<SwfParser>(m_head[0], length - 8);
            break;
        }
        case Kind::Jpeg:
            m_parser = std::make_unique<JpegParser>();
            break;
        case Kind::Png:
            m_parser = std::make_unique<PngParser>();
            break;
        case Kind::Gif:
            m_parser = std::make_unique<GifParser>();
            break;
        }
        if (m_kind != Kind::Swf) { // the head is part of what the parser reads
            const auto *h = reinterpret_cast<const uchar *>(m_head.constData());
            if (!m_parser->feed(h, h + m_head.size()))
                return !(m_failed = true);
        }
    }
    if (!m_parser->feed(data, end))
        return !(m_failed = true);
    // Whatever is left after the medium's end was not part of it.
    if ((data != end || m_parser->trailing()) && m_end == End::Exact)
        return !(m_failed = true);
    return true;
}

qint64 Check::inflated() const
{
    return m_parser ? m_parser->inflated() : 0;
}

bool Check::finish()
{
    return !m_failed && m_parser && m_parser->end() && !(m_end == End::Exact && m_parser->trailing());
}

} // namespace media
