#include "app/option_values.h"
#include "core/disc_info.h"
#include "core/settings.h"

#include "support/temp_home.h"

#include <QDir>
#include <functional>
#include <gtest/gtest.h>

TEST(OptionValues, BitRateTextsAreReadByTheirFirstThreeCharacters)
{
    const std::vector<std::pair<QString, std::optional<int>>> cases{{" 96 kbit/s", 96},
                                                                    {"96", 96},
                                                                    {"320 kbit/s", 320},
                                                                    {"  8 kbit/s", 8},
                                                                    {" 64kbit/s", 64},
                                                                    {"abc", std::nullopt},
                                                                    {"", std::nullopt},
                                                                    {"12a kbit/s", std::nullopt},
                                                                    {"1000 kbit/s", std::nullopt},
                                                                    {"  7", std::nullopt},
                                                                    {"321", std::nullopt},
                                                                    {"-96", std::nullopt},
                                                                    {"0 kbit/s", std::nullopt}};
    for (const auto& [text, kbits] : cases)
        EXPECT_EQ(ParseMp3BitRate(text), kbits) << text.toStdString();
    for (int kbits : Mp3BitRates)
        EXPECT_EQ(ParseMp3BitRate(Mp3BitRateText(kbits)), kbits);
    EXPECT_EQ(Mp3BitRateText(96), " 96 kbit/s");
}

TEST(OptionValues, ALengthIsAWholeNumberOfSecondsAndNothingElse)
{
    const std::vector<std::pair<QString, std::optional<int>>> cases{{"30", 30},
                                                                    {" 30 ", 30},
                                                                    {"0", 0},
                                                                    {"abc", std::nullopt},
                                                                    {"", std::nullopt},
                                                                    {"-100", std::nullopt},
                                                                    {"-5", std::nullopt},
                                                                    {"+5", std::nullopt},
                                                                    {"1e3", std::nullopt},
                                                                    {"99999999999", std::nullopt}};
    for (const auto& [text, seconds] : cases)
        EXPECT_EQ(ParseRipTime(text), seconds) << text.toStdString();
}

TEST(OptionValues, OkChecksTheFieldsInOrderAndStoresTheFolderAbsolute)
{
    TTempHome home;
    QDir().mkpath(home.File("music"));
    home.Write("file", "not a folder");
    TAppSettings settings;
    settings.OutputFolder = home.File("music");
    const TOptionValues good = OptionValuesOf(settings, TDiscInfo{});
    const std::vector<std::pair<std::function<void(TOptionValues&)>, TOptionField>> cases{
        {[](TOptionValues&) {}, TOptionField::None},
        {[&](TOptionValues& v) { v.OutputFolder = home.File("missing"); }, TOptionField::OutputFolder},
        {[&](TOptionValues& v) { v.OutputFolder = home.File("file"); }, TOptionField::OutputFolder},
        {[](TOptionValues& v) { v.OutputFolder = " "; }, TOptionField::OutputFolder},
        {[](TOptionValues& v) { v.RipTimeText = "abc"; }, TOptionField::RipTime},
        {[](TOptionValues& v) { v.Mp3BitRateText = "abc"; }, TOptionField::Mp3BitRate},
        {[](TOptionValues& v) { v.Mp3MaxBitRateText = "1000"; }, TOptionField::Mp3MaxBitRate},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        TOptionValues values = good;
        cases[i].first(values);
        EXPECT_EQ(FirstInvalidOption(values), cases[i].second) << "case " << i;
    }

    const QString previous = QDir::currentPath();
    QDir::setCurrent(home.Path());
    TOptionValues relative = good;
    relative.OutputFolder = "music/../music/";
    TDiscInfo disc;
    StoreOptionValues(relative, settings, disc);
    const QString expected = QDir::currentPath() + "/music";
    QDir::setCurrent(previous);
    EXPECT_EQ(settings.OutputFolder, expected);
}
