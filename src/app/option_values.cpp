#include "option_values.h"

#include "codecs/genre_list.h"
#include "codecs/wma_settings.h"
#include "core/disc_info.h"
#include "core/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>

namespace {

// A list position outside its list shows the setting's own default entry: the
// encoders treat such a value as that default too (or as something odder), and
// the nearest entry of a list may mean something quite different (a stereo mode
// of 12 is no request for mono).
int PositionIn(int position, int count, int fallback)
{
    return position >= 0 && position < count ? position : fallback;
}

} // namespace

QString Mp3BitRateText(int kbits)
{
    return QStringLiteral("%1 kbit/s").arg(kbits, 3);
}

std::optional<int> ParseMp3BitRate(const QString& text)
{
    bool ok = false;
    const int kbits = text.left(3).trimmed().toInt(&ok);
    if (!ok || (text.size() > 3 && text.at(3).isDigit()))
        return std::nullopt;
    if (kbits < Mp3LowestBitRate || kbits > Mp3HighestBitRate)
        return std::nullopt;
    return kbits;
}

std::optional<int> ParseRipTime(const QString& text)
{
    const QString trimmed = text.trimmed();
    // toInt would also take a sign and hexadecimal-looking forms from other
    // locales; a length is plain digits.
    if (trimmed.isEmpty() ||
        !std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    bool ok = false;
    const int seconds = trimmed.toInt(&ok);
    if (!ok)
        return std::nullopt;
    return seconds;
}

TOptionValues OptionValuesOf(const TAppSettings& settings, const TDiscInfo& disc)
{
    const TAppSettings defaults;
    TOptionValues values;
    values.OutputFolder = settings.OutputFolder;
    values.DeleteWav = !settings.KeepWav;
    values.OutputFormat = PositionIn(settings.OutputFormat, OutputFormatCount, defaults.OutputFormat);
    values.Normalize = settings.Normalize;
    values.NormalizePercent = qBound(0, settings.NormalizePercent, 100);
    values.EnableRipTime = settings.EnableRipTime;
    values.RipTimeText = QString::number(qMax(0, settings.RipTime));

    values.Mp3Vbr = settings.Mp3Vbr;
    values.Mp3NoVbrTag = settings.Mp3NoVbrTag;
    values.Mp3BitRateText = Mp3BitRateText(qBound(Mp3LowestBitRate, settings.Mp3BitRate, Mp3HighestBitRate));
    values.Mp3MaxBitRateText =
        Mp3BitRateText(qBound(Mp3LowestBitRate, settings.Mp3MaxBitRate, Mp3HighestBitRate));
    values.Mp3VbrQuality = PositionIn(settings.Mp3VbrQuality, Mp3VbrQualityCount, defaults.Mp3VbrQuality);
    values.Mp3Quality = PositionIn(settings.Mp3Quality, Mp3QualityCount, defaults.Mp3Quality);
    values.Mp3StereoMode = PositionIn(settings.Mp3StereoMode, Mp3StereoModeCount, defaults.Mp3StereoMode);

    values.OggUseQuality = settings.OggUseQuality;
    values.OggQuality = qBound(30, settings.OggQuality, 100);
    values.OggNominalBitRate =
        PositionIn(settings.OggNominalBitRate, OggBitRateCount, defaults.OggNominalBitRate);
    values.OggMaxBitRate = PositionIn(settings.OggMaxBitRate, OggBitRateCount, defaults.OggMaxBitRate);
    values.OggMinBitRate = PositionIn(settings.OggMinBitRate, OggBitRateCount, defaults.OggMinBitRate);

    values.WmaSetting = PositionIn(settings.WmaSetting, WmaSettingCount, DefaultWmaSetting);

    values.UseId3 = settings.UseId3;
    values.Artist = disc.Artist;
    values.Album = disc.Album;
    values.Year = disc.Year;
    values.Genre = PositionIn(disc.Genre, GenreListCount, -1);
    values.Comment = disc.Comment;

    values.DriveIndex = settings.DriveIndex;
    values.UseCddb = settings.UseCddb;
    return values;
}

TOptionField FirstInvalidOption(const TOptionValues& values)
{
    if (values.OutputFolder.trimmed().isEmpty() || !QFileInfo(values.OutputFolder).isDir())
        return TOptionField::OutputFolder;
    if (!ParseRipTime(values.RipTimeText))
        return TOptionField::RipTime;
    if (!ParseMp3BitRate(values.Mp3BitRateText))
        return TOptionField::Mp3BitRate;
    if (!ParseMp3BitRate(values.Mp3MaxBitRateText))
        return TOptionField::Mp3MaxBitRate;
    return TOptionField::None;
}

void StoreOptionValues(const TOptionValues& values, TAppSettings& settings, TDiscInfo& disc)
{
    Q_ASSERT(FirstInvalidOption(values) == TOptionField::None);
    settings.OutputFolder = QDir::cleanPath(QFileInfo(values.OutputFolder).absoluteFilePath());
    settings.KeepWav = !values.DeleteWav;
    settings.OutputFormat = values.OutputFormat;
    settings.Normalize = values.Normalize;
    settings.NormalizePercent = values.NormalizePercent;
    settings.EnableRipTime = values.EnableRipTime;
    settings.RipTime = ParseRipTime(values.RipTimeText).value_or(settings.RipTime);

    settings.Mp3Vbr = values.Mp3Vbr;
    settings.Mp3NoVbrTag = values.Mp3NoVbrTag;
    settings.Mp3BitRate = ParseMp3BitRate(values.Mp3BitRateText).value_or(settings.Mp3BitRate);
    settings.Mp3MaxBitRate = ParseMp3BitRate(values.Mp3MaxBitRateText).value_or(settings.Mp3MaxBitRate);
    settings.Mp3VbrQuality = values.Mp3VbrQuality;
    settings.Mp3Quality = values.Mp3Quality;
    settings.Mp3StereoMode = values.Mp3StereoMode;

    settings.OggUseQuality = values.OggUseQuality;
    settings.OggQuality = values.OggQuality;
    settings.OggNominalBitRate = values.OggNominalBitRate;
    settings.OggMaxBitRate = values.OggMaxBitRate;
    settings.OggMinBitRate = values.OggMinBitRate;

    settings.WmaSetting = values.WmaSetting;

    settings.DriveIndex = values.DriveIndex;
    settings.UseCddb = values.UseCddb;

    settings.UseId3 = values.UseId3;
    disc.Artist = values.Artist;
    disc.Album = values.Album;
    disc.Year = values.Year;
    disc.Genre = values.Genre;
    disc.Comment = values.Comment;
}
