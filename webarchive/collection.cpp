// The captures of several files, answering by address and date. Opening keeps each
// file's CDXJ lines as they are, sorted, and parses only the lines a lookup reaches, so
// that a file of many records opens in a fraction of a second.

#include "gzmember.h"
#include "wacz.h"

#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QTimeZone>

#include <zip.h>

#include <algorithm>
#include <cstring>

namespace warc {

namespace {

bool fail(QString *error, const char *why)
{
    if (error)
        *error = QString::fromLatin1(why);
    return false;
}

// One stored entry of a ZIP as a seekable device: libzip seeks in stored data.
class ZipEntryDevice : public QIODevice
{
public:
    ZipEntryDevice(zip_t *zip, zip_uint64_t index, qint64 size) : m_zip(zip), m_index(index), m_size(size) { }
    ~ZipEntryDevice() override { close(); }
    bool open(OpenMode mode) override
    {
        m_file = zip_fopen_index(m_zip, m_index, 0);
        return m_file && QIODevice::open(mode | QIODevice::Unbuffered);
    }
    void close() override
    {
        if (m_file)
            zip_fclose(m_file);
        m_file = nullptr;
        QIODevice::close();
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }
    bool seek(qint64 pos) override
    {
        // libzip 1.7's own seek crashes on some broken entries: the entry is read
        // forward to pos instead, from its start if pos is behind.
        if (!m_file || m_broken || pos < 0 || pos > m_size)
            return false;
        if (pos < m_at) {
            zip_fclose(m_file);
            m_file = zip_fopen_index(m_zip, m_index, 0);
            m_at = 0;
            if (!m_file)
                return false;
        }
        char skipped[64 * 1024];
        while (m_at < pos) {
            const zip_int64_t n = zip_fread(m_file, skipped, zip_uint64_t(std::min<qint64>(pos - m_at, sizeof skipped)));
            if (n <= 0)
                return m_broken = true, false;
            m_at += n;
        }
        return QIODevice::seek(pos);
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (!m_file || m_broken)
            return -1;
        const zip_int64_t n = zip_fread(m_file, data, zip_uint64_t(maxSize));
        m_broken = n < 0;
        m_at += std::max<zip_int64_t>(n, 0);
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    zip_t *m_zip;
    zip_uint64_t m_index;
    qint64 m_size;
    zip_file_t *m_file = nullptr;
    bool m_broken = false;
    qint64 m_at = 0; // where the next read starts
};

// Reads a whole (small) entry, up to limit bytes; libzip checks its CRC at the end.
std::optional<QByteArray> readEntry(zip_t *zip, zip_uint64_t index, qint64 limit, QString *error)
{
    zip_stat_t st;
    if (zip_stat_index(zip, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
        return fail(error, "a file in the WACZ cannot be read"), std::nullopt;
    if (st.size > zip_uint64_t(limit))
        return fail(error, "a file in the WACZ is too large"), std::nullopt;
    zip_file_t *f = zip_fopen_index(zip, index, 0);
    if (!f)
        return fail(error, "a file in the WACZ cannot be read"), std::nullopt;
    QByteArray data;
    data.resize(qsizetype(st.size));
    qint64 have = 0;
    bool ok = true;
    while (have < data.size()) {
        const zip_int64_t got = zip_fread(f, data.data() + have, zip_uint64_t(data.size() - have));
        if (got <= 0) {
            ok = false;
            break;
        }
        have += got;
    }
    char extra;
    if (ok && zip_fread(f, &extra, 1) != 0) // more than it said, or a bad CRC
        ok = false;
    zip_fclose(f);
    if (!ok)
        return fail(error, "a file in the WACZ is corrupt"), std::nullopt;
    return data;
}

// All gzip members of data inflated, bounded.
std::optional<QByteArray> gunzip(const QByteArray &data, qint64 limit, QString *error)
{
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 16) != Z_OK)
        return fail(error, "out of memory"), std::nullopt;
    QByteArray out;
    qsizetype in = 0;
    char buffer[64 * 1024];
    bool ok = true;
    while (ok && in < data.size()) {
        zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData() + in));
        zs.avail_in = uInt(data.size() - in); // the index's limit keeps it within uInt
        zs.next_out = reinterpret_cast<Bytef *>(buffer);
        zs.avail_out = sizeof buffer;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        in = data.size() - qsizetype(zs.avail_in);
        out.append(buffer, qsizetype(sizeof buffer - zs.avail_out));
        if (out.size() > limit) {
            inflateEnd(&zs);
            return fail(error, "an index in the WACZ is too large"), std::nullopt;
        }
        if (rc == Z_STREAM_END)
            inflateReset(&zs);
        else if (rc != Z_OK && !(rc == Z_BUF_ERROR && zs.avail_out == 0))
            ok = false;
    }
    inflateEnd(&zs);
    if (!ok)
        return fail(error, "an index in the WACZ is corrupt"), std::nullopt;
    return out;
}

qint64 secondsOf(const char *t)
{
    const auto n = [t](int from, int count) {
        int v = 0;
        for (int i = from; i < from + count; ++i)
            v = v * 10 + (t[i] - '0');
        return v;
    };
    const QDateTime when(QDate(n(0, 4), n(4, 2), n(6, 2)), QTime(n(8, 2), n(10, 2), n(12, 2)), QTimeZone::utc());
    return when.isValid() ? when.toSecsSinceEpoch() : 0;
}

} // namespace

struct Collection::Impl
{
    struct Source
    {
        QString path;
        std::unique_ptr<QFile> file; // a WARC
        zip_t *zip = nullptr; // a WACZ
        QHash<QString, QPair<zip_uint64_t, qint64>> warcs; // its archive/ files: index, size
        QByteArray text; // CDXJ lines
        ~Source()
        {
            if (zip)
                zip_discard(zip);
        }
    };
    struct Line
    {
        qint64 start;
        quint32 length;
        quint32 source;
    };

    Limits limits;
    std::vector<std::unique_ptr<Source>> sources;
    std::vector<Line> lines; // in byte order
    QList<Page> pages;
    mutable QMutex mutex;

    const char *data(const Line &l) const { return sources[l.source]->text.constData() + l.start; }
    bool less(const Line &a, const Line &b) const
    {
        const int c = std::memcmp(data(a), data(b), qMin(a.length, b.length));
        return c < 0 || (c == 0 && a.length < b.length);
    }
    // Splits source's text into lines, checking only the shape a search relies on.
    bool addLines(quint32 source, QString *error);
    bool addWacz(Source &source, QString *error);
};

bool Collection::Impl::addLines(quint32 source, QString *error)
{
    const QByteArray &text = sources[source]->text;
    std::vector<Line> added;
    bool sorted = true;
    qint64 pos = 0;
    while (pos < text.size()) {
        const char *start = text.constData() + pos;
        const char *nl = static_cast<const char *>(std::memchr(start, '\n', size_t(text.size() - pos)));
        qint64 length = nl ? nl - start : text.size() - pos;
        const qint64 next = pos + length + 1;
        while (length > 0 && (start[length - 1] == '\r' || start[length - 1] == ' '))
            --length;
        if (length == 0) {
            pos = next;
            continue;
        }
        if (length > limits.maxLineBytes)
            return fail(error, "an index line is too long");
        if (qint64(lines.size() + added.size()) >= limits.maxRecords)
            return fail(error, "the index holds too many lines");
        const char *space = static_cast<const char *>(std::memchr(start, ' ', size_t(length)));
        const qint64 keyLength = space ? space - start : 0;
        if (keyLength <= 0 || length < keyLength + 17 || start[keyLength + 15] != ' ' || start[keyLength + 16] != '{'
            || !std::all_of(start + keyLength + 1, start + keyLength + 15, [](char c) { return c >= '0' && c <= '9'; }))
            return fail(error, "an index line is not a key, a timestamp and a JSON object");
        const Line line{pos, quint32(length), source};
        if (!added.empty() && less(line, added.back()))
            sorted = false;
        added.push_back(line);
        pos = next;
    }
    if (!sorted)
        std::sort(added.begin(), added.end(), [this](const Line &a, const Line &b) { return less(a, b); });
    const auto middle = lines.insert(lines.end(), added.begin(), added.end());
    std::inplace_merge(lines.begin(), middle, lines.end(), [this](const Line &a, const Line &b) { return less(a, b); });
    return true;
}

bool Collection::Impl::addWacz(Source &source, QString *error)
{
    int zipError = 0;
    source.zip = zip_open(QFile::encodeName(source.path).constData(), ZIP_RDONLY, &zipError);
    if (!source.zip)
        return fail(error, zipError == ZIP_ER_NOZIP ? "the file is not a ZIP file" : "the ZIP file cannot be read");
    const zip_int64_t count = zip_get_num_entries(source.zip, 0);
    if (count < 0 || count > 100000)
        return fail(error, "the WACZ holds too many files");
    QList<zip_uint64_t> indexes;
    zip_int64_t pagesEntry = -1;
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        zip_stat_t st;
        if (zip_stat_index(source.zip, i, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            return fail(error, "the WACZ's list of files cannot be read");
        const QString name = QString::fromUtf8(st.name);
        if (name.startsWith(QLatin1String("archive/"))
            && (name.endsWith(QLatin1String(".warc.gz")) || name.endsWith(QLatin1String(".warc")))) {
            if (!(st.valid & ZIP_STAT_COMP_METHOD) || st.comp_method != ZIP_CM_STORE)
                return fail(error,
                            "a WARC file in the WACZ is compressed in the ZIP, so it cannot be read at an offset");
            source.warcs.insert(name.mid(8), {i, qint64(st.size)});
        } else if (name.startsWith(QLatin1String("indexes/"))
                   && (name.endsWith(QLatin1String(".cdxj")) || name.endsWith(QLatin1String(".cdx"))
                       || name.endsWith(QLatin1String(".cdxj.gz")) || name.endsWith(QLatin1String(".cdx.gz")))) {
            indexes.append(i);
        } else if (name == QLatin1String("pages/pages.jsonl")) {
            pagesEntry = zip_int64_t(i);
        }
    }
    if (source.warcs.isEmpty())
        return fail(error, "the WACZ holds no WARC file");
    qint64 total = 0;
    for (const zip_uint64_t i : indexes) {
        auto bytes = readEntry(source.zip, i, limits.maxIndexBytes - total, error);
        if (!bytes)
            return false;
        if (detail::isGzip(bytes->constData(), bytes->size())) {
            bytes = gunzip(*bytes, limits.maxIndexBytes - total, error);
            if (!bytes)
                return false;
        }
        total += bytes->size();
        source.text += *bytes;
        if (!source.text.endsWith('\n'))
            source.text += '\n';
    }
    if (indexes.isEmpty()) {
        // No index we read: the records themselves, scanned once, within the limits.
        for (auto it = source.warcs.cbegin(); it != source.warcs.cend(); ++it) {
            ZipEntryDevice device(source.zip, it->first, it->second);
            if (!device.open(QIODevice::ReadOnly))
                return fail(error, "a WARC file in the WACZ cannot be read");
            const auto entries = scan(device, it.key(), limits, error);
            if (!entries)
                return false;
            for (const IndexEntry &e : *entries)
                source.text += cdxjLine(e) + '\n';
        }
    }
    if (pagesEntry >= 0) {
        const auto bytes = readEntry(source.zip, zip_uint64_t(pagesEntry), limits.maxIndexBytes, error);
        if (!bytes)
            return false;
        const auto list = readPages(*bytes, limits, error);
        if (!list)
            return false;
        pages += *list;
    }
    return true;
}

Collection::Collection(const Limits &limits) : d(std::make_unique<Impl>())
{
    d->limits = limits;
}

Collection::~Collection() = default;

bool Collection::add(const QString &path, QString *error)
{
    QMutexLocker lock(&d->mutex);
    auto source = std::make_unique<Impl::Source>();
    source->path = path;
    char magic[4] = {};
    {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("cannot open the file: ") + probe.errorString();
            return false;
        }
        probe.read(magic, 4);
    }
    const QList<Page> pagesBefore = d->pages;
    if (std::memcmp(magic, "PK\3\4", 4) == 0 || path.endsWith(QLatin1String(".wacz"), Qt::CaseInsensitive)) {
        if (!d->addWacz(*source, error)) {
            d->pages = pagesBefore;
            return false;
        }
    } else {
        source->file = std::make_unique<QFile>(path);
        if (!source->file->open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("cannot open the file: ") + source->file->errorString();
            return false;
        }
        const auto entries = scan(*source->file, QFileInfo(path).fileName(), d->limits, error);
        if (!entries)
            return false;
        for (const IndexEntry &e : *entries)
            source->text += cdxjLine(e) + '\n';
    }
    const std::vector<Impl::Line> linesBefore = d->lines;
    d->sources.push_back(std::move(source));
    if (!d->addLines(quint32(d->sources.size() - 1), error)) {
        d->sources.pop_back();
        d->lines = linesBefore;
        d->pages = pagesBefore;
        return false;
    }
    return true;
}

qint64 Collection::size() const
{
    QMutexLocker lock(&d->mutex);
    return qint64(d->lines.size());
}

QList<Page> Collection::pages() const
{
    QMutexLocker lock(&d->mutex);
    return d->pages;
}

std::optional<IndexEntry> Collection::nearest(const QUrl &url, const QDateTime &date) const
{
    QMutexLocker lock(&d->mutex);
    const QByteArray prefix = surt(url).toUtf8() + ' ';
    const auto prefixLess = [&](const Impl::Line &l, const QByteArray &p) {
        const int c = std::memcmp(d->data(l), p.constData(), qMin<size_t>(l.length, size_t(p.size())));
        return c < 0 || (c == 0 && l.length < quint32(p.size()));
    };
    const auto first = std::lower_bound(d->lines.begin(), d->lines.end(), prefix, prefixLess);
    auto last = first;
    while (last != d->lines.end() && last->length >= quint32(prefix.size())
           && std::memcmp(d->data(*last), prefix.constData(), size_t(prefix.size())) == 0)
        ++last;
    if (first == last)
        return std::nullopt;
    // Within one key the lines run by timestamp: walk out from the date, the nearer
    // side first, the earlier on a tie, parsing only the lines looked at.
    const QByteArray when = date.toUTC().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1();
    const qint64 target = date.toUTC().toSecsSinceEpoch();
    auto right = std::lower_bound(first, last, when, [&](const Impl::Line &l, const QByteArray &w) {
        return std::memcmp(d->data(l) + prefix.size(), w.constData(), 14) < 0;
    });
    auto left = right;
    const QString scheme = url.scheme().toLower();
    for (;;) {
        const bool hasLeft = left != first;
        const bool hasRight = right != last;
        if (!hasLeft && !hasRight)
            return std::nullopt;
        bool takeLeft = hasLeft;
        if (hasLeft && hasRight) {
            const qint64 before = target - secondsOf(d->data(*(left - 1)) + prefix.size());
            const qint64 after = secondsOf(d->data(*right) + prefix.size()) - target;
            takeLeft = before <= after;
        }
        const Impl::Line line = takeLeft ? *--left : *right++;
        const auto entry
            = readCdxjLine(QByteArray::fromRawData(d->data(line), qsizetype(line.length)), d->limits, nullptr);
        // A revisit record holds no payload of its own: a capture with one is taken instead.
        if (!entry || entry->status >= 500 || entry->mime == "warc/revisit"
            || QUrl::fromEncoded(entry->url).scheme().toLower() != scheme)
            continue;
        IndexEntry e = *entry;
        e.source = int(line.source);
        return e;
    }
}

std::optional<Answer> Collection::answer(const IndexEntry &entry, QString *error) const
{
    QMutexLocker lock(&d->mutex);
    if (entry.source < 0 || size_t(entry.source) >= d->sources.size())
        return fail(error, "the capture is not from these files"), std::nullopt;
    Impl::Source &source = *d->sources[size_t(entry.source)];
    std::optional<Record> record;
    if (source.file) {
        record = readRecordAt(*source.file, entry.offset, d->limits, error);
    } else {
        QString name = entry.filename;
        if (name.startsWith(QLatin1String("archive/")))
            name = name.mid(8);
        const auto it = source.warcs.constFind(name);
        if (it == source.warcs.cend())
            return fail(error, "the index names a file the WACZ does not hold"), std::nullopt;
        ZipEntryDevice device(source.zip, it->first, it->second);
        if (!device.open(QIODevice::ReadOnly))
            return fail(error, "a WARC file in the WACZ cannot be read"), std::nullopt;
        record = readRecordAt(device, entry.offset, d->limits, error);
    }
    if (!record)
        return std::nullopt;
    return answerOf(*record, d->limits, error);
}

} // namespace warc
