#pragma once

#include <QString>
#include <QStringList>

// The user's options, one field per key of options.ini. One process-wide record:
// the user-interface thread loads it at start-up, changes it in the options
// windows and saves it at shut-down; worker threads only read the fields they
// need while a (modal) job runs, so nothing changes under them.
struct TAppSettings {
    // CommonOptions
    QString OutputFolder;
    int OutputFormat = 0; // 0 MP3, 1 WAV, 2 OGG, 3 WMA
    bool KeepWav = false;
    bool Normalize = false;
    int NormalizePercent = 95;
    bool EnableRipTime = false;
    int RipTime = 0;
    // Mp3Options
    bool Mp3Vbr = false;
    bool Mp3NoVbrTag = false;
    int Mp3BitRate = 128;
    int Mp3MaxBitRate = 320;
    int Mp3Quality = 0;
    int Mp3VbrQuality = 4;
    int Mp3StereoMode = 1;
    // OggOptions
    bool OggUseQuality = true;
    int OggQuality = 30;
    int OggMaxBitRate = 0;
    int OggNominalBitRate = 0;
    int OggMinBitRate = 0;
    // WMAOptions
    int WmaSetting = 8;
    // CDOptions
    int DriveIndex = -1;
    bool UseCddb = false;
    // RecordOptions
    bool RecordToMp3 = false;
    // QueryCDDB
    QString CddbServer = QStringLiteral("gnudb.gnudb.org");
    QString CddbScript = QStringLiteral("/~cddb/cddb.cgi");
    bool CddbUseProxy = false;
    QString CddbProxyAddress;
    QString CddbProxyPort = QStringLiteral("80");
    // ID3
    bool UseId3 = false;
    // Options
    QString Language = QStringLiteral("English");
};

// The process-wide record.
TAppSettings& AppSettings();

// Path of options.ini in the program folder.
QString SettingsFilePath();

// Fills AppSettings from options.ini; a missing or unreadable file gives defaults.
void LoadSettings();

// What start-up tells the user about options.ini and cdinfo.dat when something
// other than a regular file is in their place (a FIFO, a device, a link to
// /dev/zero): such a file is neither read nor replaced. Translated messages,
// none when both are fine.
QStringList SettingsFileProblems();

// Writes every field back, keeping whatever else the file holds. Returns false
// when the file could not be written (the previous file then stays as it was).
bool SaveSettings();
