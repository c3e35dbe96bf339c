// The head of a WARC record, read within the limits.

#include "heads.h"

namespace warc::detail {

bool fail(QString *error, const char *why)
{
    if (error)
        *error = QString::fromLatin1(why);
    return false;
}

QByteArray findField(const Fields &fields, const QByteArray &name)
{
    for (const auto &f : fields)
        if (f.first.compare(name, Qt::CaseInsensitive) == 0)
            return f.second;
    return {};
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

qint64 parseHead(const char *data, qint64 size, qint64 limit, QByteArray *first, Fields *fields)
{
    QByteArrayView firstView;
    const qint64 length
        = walkHead(data, size, limit, &firstView, [fields](QByteArrayView name, QByteArrayView value, bool folded) {
              if (folded)
                  fields->last().second += ' ' + value.toByteArray();
              else
                  fields->append({name.toByteArray(), value.toByteArray()});
          });
    *first = firstView.toByteArray();
    return length;
}

std::optional<qint64> parseLength(QByteArrayView value)
{
    if (value.isEmpty() || value.size() > 18)
        return std::nullopt;
    qint64 n = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::optional<WarcHead> readWarcHead(const char *data, qint64 size, const Limits &limits, QString *error)
{
    WarcHead h;
    const auto lengths
        = readWarcHeadWith(data, size, limits, error, [&h](QByteArrayView name, QByteArrayView value, bool folded) {
              if (folded)
                  h.fields.last().second += ' ' + value.toByteArray();
              else
                  h.fields.append({name.toByteArray(), value.toByteArray()});
          });
    if (!lengths)
        return std::nullopt;
    h.headLength = lengths->first;
    h.blockLength = lengths->second;
    return h;
}

std::optional<HeadView> readHeadView(const char *data, qint64 size, const Limits &limits, QString *error)
{
    HeadView h;
    const auto lengths
        = readWarcHeadWith(data, size, limits, error, [&h](QByteArrayView name, QByteArrayView value, bool folded) {
              if (folded || name.size() < 8)
                  return;
              if (sameName(name, "WARC-Type"))
                  h.type = value;
              else if (sameName(name, "WARC-Target-URI"))
                  h.target = value;
              else if (sameName(name, "WARC-Date"))
                  h.date = value;
              else if (sameName(name, "WARC-Payload-Digest"))
                  h.digest = value;
              else if (sameName(name, "Content-Type"))
                  h.contentType = value;
          });
    if (!lengths)
        return std::nullopt;
    h.headLength = lengths->first;
    h.blockLength = lengths->second;
    return h;
}

QByteArray timestampOf(QByteArrayView warcDate)
{
    QByteArray digits;
    for (const char c : warcDate) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c != '-' && c != ':' && c != 'T')
            break;
        if (digits.size() == 14)
            break;
    }
    return digits.size() == 14 ? digits : QByteArray();
}

} // namespace warc::detail
