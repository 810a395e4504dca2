#include "track_rows.h"

#include "core/disc_info.h"
#include "core/helpers.h"

#include <algorithm>

namespace {

constexpr qint64 BytesPerSecond = 176400;
constexpr double BytesPerMegabyte = 1048576.0;

} // namespace

int TrackSeconds(int startMinute, int startSecond, int endMinute, int endSecond)
{
    return (endMinute - startMinute) * 60 + (endSecond - startSecond);
}

QString TrackLengthText(qint64 seconds)
{
    // A table of contents whose next track starts earlier is broken; TimeText
    // shows such a track as 00:00 rather than negative digits.
    return TimeText(seconds);
}

QString TrackSizeText(qint64 seconds)
{
    const qint64 bytes = std::max<qint64>(seconds, 0) * BytesPerSecond;
    const qint64 hundredths = RoundHalfEven(static_cast<double>(bytes) / BytesPerMegabyte * 100.0);
    return FormatTwoDigits(hundredths / 100) + QLatin1Char('.') + FormatTwoDigits(hundredths % 100);
}

std::vector<TTrackRow> TrackRowsOfToc(const CDTOC& toc)
{
    std::vector<TTrackRow> rows;
    const int first = toc.FirstTrack;
    const int last = toc.LastTrack;
    if (first < 1 || last < first || last - first + 1 >= CDTOCEntries)
        return rows;
    for (int t = first; t <= last; ++t) {
        // Entry i is track first + i, and the entry after the last is the lead-out.
        const CDTOCEntry& start = toc.Entries[t - first];
        const CDTOCEntry& end = toc.Entries[t - first + 1];
        TTrackRow row;
        row.Number = t;
        if (DiscInfo().Title(t).isEmpty())
            DiscInfo().SetTitle(t, DefaultTrackTitle(t));
        row.Title = DiscInfo().Title(t);
        const int seconds = TrackSeconds(start.Address[1], start.Address[2], end.Address[1], end.Address[2]);
        row.LengthText = TrackLengthText(seconds);
        row.SizeText = TrackSizeText(seconds);
        rows.push_back(row);
    }
    return rows;
}
