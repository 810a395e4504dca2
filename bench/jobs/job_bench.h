#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>

// What the job benches share: the pause the job engine makes after each Ogg
// file, and the options that make it encode as `oggenc -q 2` does.

constexpr double OggPauseSeconds = 0.3;

// Quality 0.2 is the options' slider at 30 (the default, written out so that
// no other options.ini can change it); no WAV is kept, nothing normalized.
inline void WriteOggOptions(const QString& home)
{
    QDir().mkpath(home);
    QFile options(home + QStringLiteral("/options.ini"));
    if (!options.open(QIODevice::WriteOnly) ||
        options.write("[OggOptions]\nIsUseCompress=1\nCompressPosition=30\n[CommonOptions]\nIsKeepWav=0\n"
                      "IsNormalize=0\nEnableRipTime=0\n") <= 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(options.fileName()));
        std::exit(1);
    }
}
