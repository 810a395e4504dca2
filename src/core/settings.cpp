#include "settings.h"

#include "disc_info.h"
#include "ini_file.h"
#include "language.h"
#include "program_folder.h"

#include <QFileInfo>

#include <QtGlobal>

#include <functional>
#include <type_traits>
#include <vector>

TAppSettings& AppSettings()
{
    static TAppSettings settings;
    return settings;
}

QString SettingsFilePath()
{
    return ProgramFile(QStringLiteral("options.ini"));
}

namespace {

// One table drives both reading and writing, so the two can never disagree on a
// section, a key or the order of the file.
struct TBinding {
    const char* Section;
    const char* Key;
    // Reads into a record that holds the defaults, which are also the fallbacks.
    std::function<void(const TIniFile&, TAppSettings&)> Read;
    std::function<void(TIniFile&, const TAppSettings&)> Write;
};

template <typename T> TBinding Bind(const char* section, const char* key, T TAppSettings::*field)
{
    TBinding binding{section, key, {}, {}};
    const QString s = QLatin1String(section);
    const QString k = QLatin1String(key);
    if constexpr (std::is_same_v<T, bool>) {
        binding.Read = [=](const TIniFile& ini, TAppSettings& a) { a.*field = ini.ReadBool(s, k, a.*field); };
        binding.Write = [=](TIniFile& ini, const TAppSettings& a) { ini.WriteBool(s, k, a.*field); };
    } else if constexpr (std::is_same_v<T, int>) {
        binding.Read = [=](const TIniFile& ini, TAppSettings& a) {
            a.*field = ini.ReadInteger(s, k, a.*field);
        };
        binding.Write = [=](TIniFile& ini, const TAppSettings& a) { ini.WriteInteger(s, k, a.*field); };
    } else {
        binding.Read = [=](const TIniFile& ini, TAppSettings& a) {
            a.*field = ini.ReadString(s, k, a.*field);
        };
        binding.Write = [=](TIniFile& ini, const TAppSettings& a) { ini.WriteString(s, k, a.*field); };
    }
    return binding;
}

const std::vector<TBinding>& Bindings()
{
    static const std::vector<TBinding> bindings{
        Bind("CommonOptions", "OutputFolder", &TAppSettings::OutputFolder),
        Bind("CommonOptions", "OutputFormat", &TAppSettings::OutputFormat),
        Bind("CommonOptions", "IsKeepWav", &TAppSettings::KeepWav),
        Bind("CommonOptions", "IsNormalize", &TAppSettings::Normalize),
        Bind("CommonOptions", "NormalizePercent", &TAppSettings::NormalizePercent),
        Bind("CommonOptions", "EnableRipTime", &TAppSettings::EnableRipTime),
        Bind("CommonOptions", "RipTime", &TAppSettings::RipTime),
        Bind("Mp3Options", "IsSelectVBR", &TAppSettings::Mp3Vbr),
        Bind("Mp3Options", "IsVBRHead", &TAppSettings::Mp3NoVbrTag),
        Bind("Mp3Options", "BitRate", &TAppSettings::Mp3BitRate),
        Bind("Mp3Options", "MaxBitRate", &TAppSettings::Mp3MaxBitRate),
        Bind("Mp3Options", "MpegQuality", &TAppSettings::Mp3Quality),
        Bind("Mp3Options", "VBRQuality", &TAppSettings::Mp3VbrQuality),
        Bind("Mp3Options", "StereoMode", &TAppSettings::Mp3StereoMode),
        Bind("OggOptions", "IsUseCompress", &TAppSettings::OggUseQuality),
        Bind("OggOptions", "CompressPosition", &TAppSettings::OggQuality),
        Bind("OggOptions", "MaxBitRate", &TAppSettings::OggMaxBitRate),
        Bind("OggOptions", "NomalBitRate", &TAppSettings::OggNominalBitRate),
        Bind("OggOptions", "MinBitRate", &TAppSettings::OggMinBitRate),
        Bind("WMAOptions", "BitRate", &TAppSettings::WmaSetting),
        Bind("CDOptions", "Index", &TAppSettings::DriveIndex),
        Bind("CDOptions", "CDDb", &TAppSettings::UseCddb),
        Bind("RecordOptions", "SaveMp3", &TAppSettings::RecordToMp3),
        Bind("QueryCDDB", "Server", &TAppSettings::CddbServer),
        Bind("QueryCDDB", "Script", &TAppSettings::CddbScript),
        Bind("QueryCDDB", "UseProxy", &TAppSettings::CddbUseProxy),
        Bind("QueryCDDB", "ProxyAddress", &TAppSettings::CddbProxyAddress),
        Bind("QueryCDDB", "Port", &TAppSettings::CddbProxyPort),
        Bind("ID3", "Use", &TAppSettings::UseId3),
        Bind("Options", "Lan", &TAppSettings::Language),
    };
    return bindings;
}

} // namespace

void LoadSettings()
{
    TIniFile ini;
    ini.Load(SettingsFilePath());
    TAppSettings loaded;
    // The folder default is only known at run time; every other default is the
    // record's own initial value.
    loaded.OutputFolder = DefaultOutputFolder();
    for (const TBinding& binding : Bindings())
        binding.Read(ini, loaded);
    loaded.OggQuality = qBound(30, loaded.OggQuality, 100);
    AppSettings() = loaded;
}

QStringList SettingsFileProblems()
{
    QStringList problems;
    for (const QString& path : {SettingsFilePath(), DiscInfoFilePath()}) {
        if (TIniFile::IsNotAFile(path))
            problems.append(path + Translate(RES_Not_Regular_File));
    }
    return problems;
}

bool SaveSettings()
{
    TIniFile ini;
    // A file that exists but cannot be read is never replaced by one that only
    // holds what we know: it may hold much more.
    if (!ini.Load(SettingsFilePath()) && QFileInfo::exists(SettingsFilePath()))
        return false;
    for (const TBinding& binding : Bindings())
        binding.Write(ini, AppSettings());
    return ini.Save(SettingsFilePath());
}
