// A movie's menu as its player page sends it, written by the movie: whatever is read must
// stay within the bounds the menu is shown with, and be chosen only by its own entries.
#include "fuzzing.h"
#include "moviemenu.h"

#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto menu = MovieMenu::parse(bytes);
    if (!menu)
        return 0;
    FUZZ_CHECK(!menu->entries.isEmpty() && menu->entries.size() <= MovieMenu::MaxEntries);
    QSet<int> seen;
    for (const MovieMenu::Entry &e : menu->entries) {
        FUZZ_CHECK(!e.text.isEmpty() && e.text.size() <= MovieMenu::MaxText && e.text.trimmed() == e.text);
        for (const QChar c : e.text)
            FUZZ_CHECK(c.category() != QChar::Other_Control);
        FUZZ_CHECK(!seen.contains(e.index));
        seen.insert(e.index);
        FUZZ_CHECK(menu->offers(e.index) == e.enabled);
    }
    FUZZ_CHECK(!menu->offers(-1));
    return 0;
}
