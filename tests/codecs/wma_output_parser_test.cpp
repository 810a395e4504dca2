#include "codecs/wma_output_parser.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

const TClock::time_point Start = TClock::time_point() + 1000h;

} // namespace

TEST(WmaOutputParser, TheFinalLineReportsTheTimeUsedAtLeastOneSecond)
{
    TWmaOutputParser parser;
    parser.Reset(Start);
    // Running figures are not the encoder's "done".
    EXPECT_TRUE(parser.Parse({"0%", "37%", "99%", "   ", ""}, Start + 30s).empty());

    auto final = parser.Parse({"100%"}, Start + 400ms);
    ASSERT_EQ(final.size(), 1u);
    EXPECT_EQ(final[0].Percent, 100);
    EXPECT_EQ(final[0].Result, 0);
    EXPECT_EQ(final[0].ElapsedText, "00:01");
    EXPECT_EQ(final[0].EstimatedText, "00:01");

    final = parser.Parse({"  Encoding 100% done  "}, Start + 75s + 400ms);
    ASSERT_EQ(final.size(), 1u);
    EXPECT_EQ(final[0].ElapsedText, "01:15");
    EXPECT_EQ(final[0].EstimatedText, "01:15");
    EXPECT_FALSE(parser.ErrorSeen());
}

TEST(WmaOutputParser, TheFirstErrorLineEndsTheFile)
{
    TWmaOutputParser parser;
    parser.Reset(Start);
    const auto reports = parser.Parse({"12%", "  ERROR: disk full  ", "100%", "ERROR: second"}, Start + 5s);
    EXPECT_TRUE(reports.empty());
    ASSERT_TRUE(parser.ErrorSeen());
    EXPECT_EQ(parser.ErrorLine(), "  ERROR: disk full  ");
    // Later output changes nothing: a failed file is not completed afterwards.
    EXPECT_TRUE(parser.Parse({"100%"}, Start + 6s).empty());
    EXPECT_EQ(parser.ErrorLine(), "  ERROR: disk full  ");

    // A line with both markers is an error.
    parser.Reset(Start);
    EXPECT_FALSE(parser.ErrorSeen());
    EXPECT_TRUE(parser.Parse({"100% ERROR"}, Start + 1s).empty());
    EXPECT_EQ(parser.ErrorLine(), "100% ERROR");
    // Lower case is not the marker.
    parser.Reset(Start);
    EXPECT_TRUE(parser.Parse({"error: not ours"}, Start + 1s).empty());
    EXPECT_FALSE(parser.ErrorSeen());
}
