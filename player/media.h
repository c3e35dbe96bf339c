#pragma once

// Whether an answer is one whole picture or movie, from its first byte to its last: a
// JPEG whose segments run to its end marker, a PNG whose chunks run to IEND, a GIF that
// ends with its trailer, a SWF as long as its header says (inflated, for a compressed
// one). Checked piece by piece as the answer streams, by structure alone: no picture is
// decoded. A host that gives no leave to read its data may still serve these to be
// shown; anything else from it is data.

#include "player_export.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

namespace media {

enum class Kind { None, Swf, Jpeg, Png, Gif };

// The medium an answer's first bytes announce (they may still turn out not to be it).
PLAYER_EXPORT Kind sniff(QByteArrayView head);
constexpr int SniffBytes = 8;

// Whether a declared media type fits a medium: none declared fits all; an image type
// (but SVG, which is a document) fits pictures; a Flash type, or a generic one, fits
// movies, as the desktop player played them.
PLAYER_EXPORT bool typeFits(Kind kind, const QByteArray &contentType);

class PLAYER_EXPORT Check
{
public:
    enum class End {
        Exact, // nothing may follow the medium's end (what is to be shown)
        Short, // only a shortfall counts (a movie loaded as a movie: what follows is ignored)
    };
    // maxMovieBytes: the most a SWF may state (and so inflate to).
    explicit Check(qint64 maxMovieBytes, End end = End::Exact);
    ~Check();
    Check(const Check &) = delete;
    Check &operator=(const Check &) = delete;

    // The next piece of the answer; false as soon as it cannot be one whole medium.
    bool feed(QByteArrayView piece);
    // The answer ended here: whether it was one whole medium.
    bool finish();
    Kind kind() const { return m_kind; }
    // What a compressed movie has inflated to so far (0 for anything else).
    qint64 inflated() const;

    struct Parser; // one medium's structure

private:
    std::unique_ptr<Parser> m_parser;
    QByteArray m_head;
    Kind m_kind = Kind::None;
    qint64 m_maxMovieBytes;
    End m_end;
    bool m_failed = false;
};

} // namespace media
