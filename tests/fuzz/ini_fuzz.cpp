// Arbitrary bytes as an INI file: reading never fails, saving what was read
// gives back the very same bytes, and whatever is written reads back the same,
// also after a save and reload.
#include "core/ini_file.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TIniFile ini;
    ini.LoadFromBytes(bytes);
    if (ini.ToBytes() != bytes)
        std::abort();
    for (const QString& section : ini.Sections()) {
        for (const QString& key : ini.Keys(section)) {
            const QString value = ini.ReadString(section, key, QString());
            if (value.size() > TIniFile::MaxValueLength)
                std::abort();
            ini.ReadInteger(section, key, 0);
        }
    }
    // A value made of the input itself, line breaks and all.
    const QString value = QString::fromLatin1(bytes.left(300));
    ini.WriteString(QStringLiteral("CommonOptions"), QStringLiteral("OutputFolder"), value);
    ini.WriteInteger(QStringLiteral("Mp3Options"), QStringLiteral("BitRate"), static_cast<int>(size));
    QString expected = value;
    expected.replace(QLatin1String("\r\n"), QLatin1String(" "));
    expected.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    expected = expected.trimmed();

    TIniFile reread;
    reread.LoadFromBytes(ini.ToBytes());
    for (const TIniFile* file : {&ini, &reread}) {
        if (file->ReadString(QStringLiteral("commonoptions"), QStringLiteral("outputfolder"), QString()) !=
            expected)
            std::abort();
        if (file->ReadInteger(QStringLiteral("Mp3Options"), QStringLiteral("BitRate"), -1) !=
            static_cast<int>(size))
            std::abort();
    }
    return 0;
}
