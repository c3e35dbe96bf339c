#pragma once

#include "player_export.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QString>

#include <optional>

// A movie's menu as its player asks the program for it: the entries, in the order shown,
// and where the keyboard's menu stands. Everything in it comes from the movie.
struct MovieMenu
{
    struct Entry
    {
        int index = 0; // the emulator's own number for it, sent back when it is chosen
        QString text;
        bool enabled = true;
        bool checked = false;
        bool separatorBefore = false;
    };
    QList<Entry> entries;
    bool byKey = false; // the menu key or Shift+F10, not the pointer
    std::optional<QPoint> at; // where on the screen, for the keyboard's menu

    static constexpr int MaxEntries = 40;
    static constexpr int MaxText = 100;
    static constexpr qsizetype MaxBytes = 16 * 1024;

    // The player's request, or nothing if it is not one: too long, not JSON of this
    // shape, no entry, or entries that repeat an index. Texts lose their control
    // characters and are cut to MaxText.
    PLAYER_EXPORT static std::optional<MovieMenu> parse(const QByteArray &json);
    // Whether index names an entry that may be chosen.
    PLAYER_EXPORT bool offers(int index) const;
};
