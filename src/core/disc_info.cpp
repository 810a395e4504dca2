#include "disc_info.h"

#include "helpers.h"
#include "ini_file.h"
#include "program_folder.h"

#include <QFileInfo>

#include <algorithm>

QString TDiscInfo::Title(int n) const
{
    if (n < 1 || n > MaxTitles)
        return {};
    return Titles[static_cast<size_t>(n)];
}

void TDiscInfo::SetTitle(int n, const QString& title)
{
    if (n >= 1 && n <= MaxTitles)
        Titles[static_cast<size_t>(n)] = title;
}

TDiscInfo& DiscInfo()
{
    static TDiscInfo info;
    return info;
}

QString DiscInfoFilePath()
{
    return ProgramFile(QStringLiteral("cdinfo.dat"));
}

QString DefaultTrackTitle(int n)
{
    return QStringLiteral("Track") + FormatTwoDigits(n);
}

void LoadDiscInfo(const QString& discId)
{
    if (discId.isEmpty())
        return;
    TIniFile ini;
    ini.Load(DiscInfoFilePath());
    TDiscInfo& info = DiscInfo();
    info.Artist = ini.ReadString(discId, QStringLiteral("Artist"), QString());
    info.Album = ini.ReadString(discId, QStringLiteral("Album"), QString());
    info.Year = ini.ReadString(discId, QStringLiteral("Year"), QString());
    info.Genre = ini.ReadInteger(discId, QStringLiteral("Genre"), -1);
    info.Comment = ini.ReadString(discId, QStringLiteral("Comment"), QString());
    // More titles than slots cannot be held; the count stays within the slots so
    // that a later save never reaches past them.
    info.TrackCount = std::min(ini.ReadInteger(discId, QStringLiteral("TrackNumber"), TDiscInfo::MaxTitles),
                               TDiscInfo::MaxTitles);
    for (int n = 1; n <= info.TrackCount; ++n) {
        const QString title = ini.ReadString(discId, QString::number(n), QString());
        info.SetTitle(n, title.isEmpty() ? DefaultTrackTitle(n) : title);
    }
}

bool SaveDiscInfo(const QString& discId)
{
    if (discId.isEmpty())
        return true;
    TIniFile ini;
    // A file that exists but cannot be read is never replaced by one that only
    // holds what we know: it may hold much more.
    if (!ini.Load(DiscInfoFilePath()) && QFileInfo::exists(DiscInfoFilePath()))
        return false;
    const TDiscInfo& info = DiscInfo();
    ini.WriteString(discId, QStringLiteral("Artist"), info.Artist);
    ini.WriteString(discId, QStringLiteral("Album"), info.Album);
    ini.WriteString(discId, QStringLiteral("Year"), info.Year);
    ini.WriteInteger(discId, QStringLiteral("Genre"), info.Genre);
    ini.WriteString(discId, QStringLiteral("Comment"), info.Comment);
    const int count = std::min(info.TrackCount, TDiscInfo::MaxTitles);
    ini.WriteInteger(discId, QStringLiteral("TrackNumber"), info.TrackCount);
    for (int n = 1; n <= count; ++n)
        ini.WriteString(discId, QString::number(n), info.Title(n));
    return ini.Save(DiscInfoFilePath());
}

bool HasCachedTitles(const QString& discId)
{
    if (discId.isEmpty())
        return false;
    TIniFile ini;
    ini.Load(DiscInfoFilePath());
    for (int n = 1; n <= TDiscInfo::MaxTitles; ++n) {
        const QString title = ini.ReadString(discId, QString::number(n), QString());
        if (!title.isEmpty() && title != DefaultTrackTitle(n))
            return true;
    }
    return false;
}
