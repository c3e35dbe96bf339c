#pragma once

// The five catalogues and how an entry becomes a link on the content site. No widgets.

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <span>
#include <string_view>

namespace catalogue {

// Which viewer shows a catalogue's links: the one name for it on both sides of the
// viewers module's door.
enum class Viewer { Page, Album };

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

// How a command runs each row's two steps: the test of its key, and what it does on a
// match. By default a failure ends the command; a command with step-by-step recovery
// passes its own (where a failed test counts as a match).
struct Steps
{
    std::function<bool(const std::function<bool()> &)> test = [](const std::function<bool()> &f) { return f(); };
    std::function<void(const std::function<void()> &)> run = [](const std::function<void()> &f) { f(); };

    // Under a recovery with test() and a call operator (forms::ResumeNext).
    template<class Recovery>
    static Steps under(Recovery &recovery)
    {
        return {[&recovery](const std::function<bool()> &f) { return recovery.test(f); },
                [&recovery](const std::function<void()> &f) { recovery(f); }};
    }
};

// A command's walk over its catalogue, row by row in table order: the key is read afresh
// for each row and, where it equals the row's key code unit for code unit, take gets the
// row's link and key. A later match overrides an earlier one, as the commands run.
void resolve(const Catalogue &c, QStringView host, const std::function<QString()> &key,
             const std::function<void(const QString &link, const QString &key)> &take, const Steps &steps = {});

// The keys in table order (the items of a selector's list).
QStringList keys(const Catalogue &c);

inline QString toQString(std::u16string_view s)
{
    return QString(reinterpret_cast<const QChar *>(s.data()), qsizetype(s.size()));
}

// The host every link points at, fixed when the program is built.
QString contentHost();

} // namespace catalogue
