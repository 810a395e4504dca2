#include "codecs/genre_list.h"

#include <gtest/gtest.h>

#include <set>

TEST(GenreList, HoldsTheEmptyEntryAndTheNamesInTheirOwnOrder)
{
    const QStringList& names = GenreNames();
    ASSERT_EQ(names.size(), GenreListCount);
    EXPECT_EQ(names[0], "");
    EXPECT_EQ(names[1], "A Cappella");
    EXPECT_EQ(names[6], "Alt. Rock");
    EXPECT_EQ(names[44], "Drum & Base");
    EXPECT_EQ(names[55], "Folk/Rock");
    // Not a fresh sort: "Eurodance" comes before "Euro-House".
    EXPECT_EQ(names[50], "Eurodance");
    EXPECT_EQ(names[51], "Euro-House");
    EXPECT_EQ(names[148], "Vocal");
}

TEST(GenreList, MapsPositionsToGenreNumbersBothWays)
{
    EXPECT_EQ(GenreFromListIndex(1), 123);
    EXPECT_EQ(GenreFromListIndex(18), 0);    // Blues
    EXPECT_EQ(GenreFromListIndex(118), 17);  // Rock
    EXPECT_EQ(GenreFromListIndex(137), 147); // Synthpop
    EXPECT_EQ(ListIndexFromGenre(17), 118);
    EXPECT_EQ(ListIndexFromGenre(0), 18);

    // Every position 1..148 names a different genre 0..147, and maps back.
    std::set<int> numbers;
    for (int index = 1; index < GenreListCount; ++index) {
        const uint8_t genre = GenreFromListIndex(static_cast<uint8_t>(index));
        EXPECT_LE(genre, 147);
        numbers.insert(genre);
        EXPECT_EQ(ListIndexFromGenre(genre), index);
    }
    EXPECT_EQ(numbers.size(), 148u);

    // The empty entry, positions past the list and a list without a selection
    // (-1 as a byte) mean no genre; unknown numbers show as the empty entry.
    EXPECT_EQ(GenreFromListIndex(0), NoGenre);
    EXPECT_EQ(GenreFromListIndex(149), NoGenre);
    EXPECT_EQ(GenreFromListIndex(static_cast<uint8_t>(-1)), NoGenre);
    EXPECT_EQ(ListIndexFromGenre(148), 0);
    EXPECT_EQ(ListIndexFromGenre(200), 0);
    EXPECT_EQ(ListIndexFromGenre(NoGenre), 0);
}
