// Arbitrary bytes as the end of an MP3 file: reading never fails or overruns, a
// tag that reads writes back in place, and what was written reads back the same.
#include "codecs/id3_tag.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("input.mp3"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile file(path);
        Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Check(file.write(bytes) == bytes.size());
    }

    Tid3tag tag;
    const uint16_t result = tag.ReadTag(path);
    const bool hasTag = bytes.size() >= 128 && bytes.right(128).startsWith("TAG");
    if (!hasTag) {
        Check(result == Tid3tag::NoTag);
        return 0;
    }
    Check(result == 0 || result == Tid3tag::UnknownGenreFlag);
    for (const QString* text : {&tag.Title, &tag.Artist, &tag.Album, &tag.Comment})
        Check(text->size() <= 30);
    Check(tag.Year.size() <= 4);
    Check(tag.HasTrack == (tag.Track != 0));

    Check(tag.WriteTag(QStringLiteral("=")) == 0);
    Check(QFile(path).size() == bytes.size());
    Tid3tag back;
    Check(back.ReadTag(path) == result);
    Check(back.Title == tag.Title && back.Artist == tag.Artist && back.Album == tag.Album);
    Check(back.Year == tag.Year && back.Genre == tag.Genre);
    Check(back.HasTrack == tag.HasTrack && back.Track == tag.Track);
    // A comment with a zero character inside may turn its last two bytes into a
    // track number; anything else comes back as it was.
    if (!tag.Comment.contains(QChar(0)))
        Check(back.Comment == tag.Comment);

    back.RemoveTag();
    Check(QFile(path).size() == bytes.size() - 128);
    return 0;
}
