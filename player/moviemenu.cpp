#include "moviemenu.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>

namespace {

// An integer the JSON holds exactly, within bounds.
std::optional<int> integer(const QJsonValue &v, double low, double high)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!(d >= low && d <= high) || std::floor(d) != d)
        return std::nullopt;
    return int(d);
}

QString plain(const QString &text)
{
    QString out;
    for (const QChar c : text)
        out += (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
                || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
                   ? QChar(u' ')
                   : c;
    out = out.trimmed().left(MovieMenu::MaxText);
    if (!out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1); // not half a character
    return out.trimmed();
}

} // namespace

std::optional<MovieMenu> MovieMenu::parse(const QByteArray &json)
{
    if (json.size() > MaxBytes)
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonArray entries = o.value(QLatin1String("entries")).toArray();
    if (entries.isEmpty() || entries.size() > MaxEntries)
        return std::nullopt;
    MovieMenu menu;
    QSet<int> seen;
    for (const QJsonValue &v : entries) {
        const QJsonObject e = v.toObject();
        const auto index = integer(e.value(QLatin1String("index")), 0, 1000);
        const QString text = plain(e.value(QLatin1String("text")).toString());
        if (!index || text.isEmpty() || seen.contains(*index))
            return std::nullopt;
        seen.insert(*index);
        menu.entries.append({*index, text, e.value(QLatin1String("enabled")).toBool(true),
                             e.value(QLatin1String("checked")).toBool(false),
                             e.value(QLatin1String("separator")).toBool(false)});
    }
    menu.byKey = o.value(QLatin1String("byKey")).toBool(false);
    const QJsonArray at = o.value(QLatin1String("at")).toArray();
    if (at.size() == 2) {
        const auto x = integer(at[0], -1e6, 1e6), y = integer(at[1], -1e6, 1e6);
        if (x && y)
            menu.at = QPoint(*x, *y);
    }
    return menu;
}

bool MovieMenu::offers(int index) const
{
    for (const Entry &e : entries)
        if (e.index == index)
            return e.enabled;
    return false;
}
