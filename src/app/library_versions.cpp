#include "library_versions.h"

#include "codecs/encoder_process.h"
#include "codecs/vorbis_library.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <SDL_version.h>
#include <cdio/version.h>
#include <dlfcn.h>
#include <link.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

namespace {

// The first line an outside program prints when asked, or why there is none.
QString ProgramAnswer(const QString& name, const QString& option, const QString& missing)
{
    const QString program = TEncoderProcess::FindProgram(name);
    if (program.isEmpty())
        return missing + QStringLiteral(" (not found)");
    QProcess process;
    process.start(program, {option});
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(1000);
        return missing + QStringLiteral(" (does not answer)");
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0).trimmed();
}

// lame prints "LAME 64bits version 3.100 (http://lame.sf.net)" first.
QString LameVersion()
{
    const QString answer =
        ProgramAnswer(QStringLiteral("lame"), QStringLiteral("--version"), QStringLiteral("LAME"));
    static const QRegularExpression version(QStringLiteral("version\\s+([0-9][0-9.a-z]*)"));
    const QRegularExpressionMatch match = version.match(answer);
    if (match.hasMatch())
        return QStringLiteral("LAME ") + match.captured(1);
    return answer.startsWith(QLatin1String("LAME (")) ? answer : QStringLiteral("LAME");
}

// velbrook-wmaenc names its own version and that of the FFmpeg it runs on.
QString WmaEncoderVersion()
{
    const QString answer = ProgramAnswer(QStringLiteral("velbrook-wmaenc"), QStringLiteral("-version"),
                                         QStringLiteral("velbrook-wmaenc"));
    return answer.startsWith(QLatin1String("velbrook-wmaenc")) ? answer : QStringLiteral("velbrook-wmaenc");
}

QString FfmpegLibrary(const char* name, unsigned version)
{
    return QStringLiteral("%1 %2.%3.%4")
        .arg(QLatin1String(name))
        .arg(AV_VERSION_MAJOR(version))
        .arg(AV_VERSION_MINOR(version))
        .arg(AV_VERSION_MICRO(version));
}

// The Ogg and Vorbis libraries are bound at start-up, so they are named with the
// file that was loaded ("libogg.so.0.8.5"); only libvorbis tells its release.
QString VorbisLibraryLine(TVorbisLibrary library, const char* name, const char* soName)
{
    const QString title = QLatin1String(name);
    if (!VorbisLibraryLoaded(library))
        return title + QStringLiteral(" (not loaded)");
    void* handle = dlopen(soName, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return title;
    QString line = title;
    if (library == TVorbisLibrary::Vorbis) {
        using TVersionString = const char* (*)();
        if (auto versionString = reinterpret_cast<TVersionString>(dlsym(handle, "vorbis_version_string"))) {
            // "Xiph.Org libVorbis 1.3.7"
            const QString text = QString::fromLatin1(versionString());
            line += QLatin1Char(' ') + text.section(QLatin1Char(' '), -1);
        }
    }
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name)
        line += QStringLiteral(" (") +
                QFileInfo(QFileInfo(QFile::decodeName(map->l_name)).canonicalFilePath()).fileName() +
                QLatin1Char(')');
    dlclose(handle);
    return line;
}

} // namespace

QStringList LibraryVersions()
{
    SDL_version sdl{};
    SDL_GetVersion(&sdl);
    return {
        QStringLiteral("Qt ") + QString::fromLatin1(qVersion()),
        // libcdio's text ends with the platform it was built for.
        QStringLiteral("libcdio ") + QString::fromLatin1(cdio_version_string).section(QLatin1Char(' '), 0, 0),
        QStringLiteral("libudev ") + QStringLiteral(VELBROOK_LIBUDEV_VERSION),
        QStringLiteral("SDL2 %1.%2.%3").arg(sdl.major).arg(sdl.minor).arg(sdl.patch),
        QStringLiteral("FFmpeg ") + QString::fromLatin1(av_version_info()),
        FfmpegLibrary("libavformat", avformat_version()),
        FfmpegLibrary("libavcodec", avcodec_version()),
        FfmpegLibrary("libavutil", avutil_version()),
        FfmpegLibrary("libswresample", swresample_version()),
        VorbisLibraryLine(TVorbisLibrary::Ogg, "libogg", "libogg.so.0"),
        VorbisLibraryLine(TVorbisLibrary::Vorbis, "libvorbis", "libvorbis.so.0"),
        VorbisLibraryLine(TVorbisLibrary::VorbisEnc, "libvorbisenc", "libvorbisenc.so.2"),
        VorbisLibraryLine(TVorbisLibrary::VorbisFile, "libvorbisfile", "libvorbisfile.so.3"),
        LameVersion(),
        WmaEncoderVersion(),
    };
}
