#pragma once

#include <QString>
#include <optional>

struct TAppSettings;
struct TDiscInfo;

// What the options dialog edits, as its controls hold it: texts where the user
// types, list positions where the user picks. Taking values from the settings
// brings every number into the range its control can show, so an odd
// options.ini opens a dialog that OK can store as it stands.
struct TOptionValues {
    // Output
    QString OutputFolder;
    bool DeleteWav = false; // the inverse of KeepWav
    int OutputFormat = 0;
    bool Normalize = false;
    int NormalizePercent = 0;
    bool EnableRipTime = false;
    QString RipTimeText;
    // LAME
    bool Mp3Vbr = false;
    bool Mp3NoVbrTag = false;
    QString Mp3BitRateText;
    QString Mp3MaxBitRateText;
    int Mp3VbrQuality = 0;
    int Mp3Quality = 0;
    int Mp3StereoMode = 0;
    // OGG
    bool OggUseQuality = false;
    int OggQuality = 0;
    int OggNominalBitRate = 0;
    int OggMaxBitRate = 0;
    int OggMinBitRate = 0;
    // WMA
    int WmaSetting = 0;
    // ID3 Tag: the settings' flag and the album data of the disc in hand
    bool UseId3 = false;
    QString Artist;
    QString Album;
    QString Year;
    int Genre = -1;
    QString Comment;
    // CD-ROM
    int DriveIndex = -1;
    bool UseCddb = false;
};

// The controls that OK can refuse, in the order it checks them.
enum class TOptionField { None, OutputFolder, RipTime, Mp3BitRate, Mp3MaxBitRate };

// The entries of the LAME page's bit-rate lists and of the Ogg bit-rate lists.
inline constexpr int Mp3BitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
inline constexpr int Mp3BitRateCount = 14;
inline constexpr int OggBitRateCount = 15;
inline constexpr int OutputFormatCount = 4;
inline constexpr int Mp3QualityCount = 3;
inline constexpr int Mp3VbrQualityCount = 10;
inline constexpr int Mp3StereoModeCount = 5;
// The bit rates lame can write, in kbit/s: a typed rate must lie in between.
inline constexpr int Mp3LowestBitRate = 8;
inline constexpr int Mp3HighestBitRate = 320;

// The bit-rate list entry of kbit/s: "128 kbit/s", " 96 kbit/s" (the number is
// right-aligned in three places, as the list has it).
QString Mp3BitRateText(int kbits);

// The kbit/s of a bit-rate text: the number its first three characters make,
// blanks trimmed (" 96 kbit/s" and "96" give 96). Nothing when that is not a
// number, when a further digit follows (so "1000" is not read as 100), or when
// lame cannot write the rate.
std::optional<int> ParseMp3BitRate(const QString& text);

// The seconds of an extraction-length text: a whole number, 0 or more, blanks
// at the ends allowed. Nothing otherwise.
std::optional<int> ParseRipTime(const QString& text);

TOptionValues OptionValuesOf(const TAppSettings& settings, const TDiscInfo& disc);

// The first control whose value OK cannot store; None when all can be stored.
TOptionField FirstInvalidOption(const TOptionValues& values);

// Stores values that FirstInvalidOption accepts. The output folder is stored as
// an absolute path, so it does not depend on the folder the program starts in.
void StoreOptionValues(const TOptionValues& values, TAppSettings& settings, TDiscInfo& disc);
