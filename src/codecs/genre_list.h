#pragma once

#include <QStringList>

#include <cstdint>

// The genre list the windows show: position 0 is the empty entry (no genre, number
// 255), positions 1..148 the ID3 genres sorted by name. A tag stores only the
// genre number; the windows hold the list positions.

inline constexpr int GenreListCount = 149;
inline constexpr uint8_t NoGenre = 255;

// The names in list order, the empty entry first (149 texts).
const QStringList& GenreNames();

// Position 0 and any position past the list give NoGenre. A list control without
// a selection (-1) passes 255 here and so maps to no genre.
uint8_t GenreFromListIndex(uint8_t index);

// Genre numbers the list does not hold (148 and above, 255 too) give position 0.
uint8_t ListIndexFromGenre(uint8_t genre);
