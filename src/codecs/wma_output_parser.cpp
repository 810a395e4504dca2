#include "wma_output_parser.h"

#include <algorithm>

void TWmaOutputParser::Reset(TClock::time_point startTime)
{
    StartTime = startTime;
    HasError = false;
    Error.clear();
}

std::vector<TProcessInfo> TWmaOutputParser::Parse(const QStringList& lines, TClock::time_point now)
{
    std::vector<TProcessInfo> reports;
    for (const QString& line : lines) {
        if (HasError)
            break;
        if (line.trimmed().isEmpty())
            continue;
        if (line.contains(QLatin1String("ERROR"))) {
            HasError = true;
            Error = line;
        } else if (line.contains(QLatin1String("100%"))) {
            // A file done within half a second still shows a second, not 00:00.
            const QString elapsed = TimeText(std::max<qint64>(1, ElapsedSeconds(StartTime, now)));
            TProcessInfo info;
            info.Percent = 100;
            info.ElapsedText = elapsed;
            info.EstimatedText = elapsed;
            reports.push_back(info);
        }
    }
    return reports;
}

bool TWmaOutputParser::ErrorSeen() const
{
    return HasError;
}

QString TWmaOutputParser::ErrorLine() const
{
    return Error;
}
