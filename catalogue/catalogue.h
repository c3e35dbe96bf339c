#pragma once

// The five catalogues and how an entry becomes a link on the content site. No widgets.

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <span>
#include <string_view>

namespace catalogue {

enum class Viewer { WebPage, FlashAlbum };

struct Entry
{
    std::u16string_view key;
    std::string_view path; // begins with "/"
};

struct Catalogue
{
    std::span<const Entry> entries; // in table order: the order of tests and of list items
    std::u16string_view defaultKey;
    Viewer viewer;
};

const Catalogue &festivalStamps();
const Catalogue &postcards();
const Catalogue &atlas();
const Catalogue &giftLevels();
const Catalogue &albums();

// "http://" + host + path, as plain text: nothing is parsed, encoded or checked.
QString link(QStringView host, std::string_view path);

// The link of the entry whose key equals key code unit for code unit, or nothing.
std::optional<QString> resolve(const Catalogue &c, QStringView key, QStringView host);

// The keys in table order (the items of a selector's list).
QStringList keys(const Catalogue &c);

inline QString toQString(std::u16string_view s)
{
    return QString(reinterpret_cast<const QChar *>(s.data()), qsizetype(s.size()));
}

// The host every link points at, fixed when the program is built.
QString contentHost();

} // namespace catalogue
