#include "id3_tag.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray TagMarker("TAG");

bool IsPadding(char c)
{
    const auto byte = static_cast<uint8_t>(c);
    return byte == 0 || byte == 32 || byte == 255;
}

QByteArray TrimPadding(QByteArray bytes)
{
    qsizetype length = bytes.size();
    while (length > 0 && IsPadding(bytes[length - 1]))
        --length;
    bytes.truncate(length);
    return bytes;
}

QString DecodeField(const QByteArray& raw)
{
    const QByteArray bytes = TrimPadding(raw);
    // Keep a leading byte-order mark as a character so that what we read is
    // exactly what the bytes say.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

bool FitsLatin1(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

QByteArray Utf8Cut(const QString& text, int size)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() > size) {
        qsizetype cut = size;
        // Back up to the first byte of the character that does not fit.
        while (cut > 0 && (static_cast<uint8_t>(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    return bytes;
}

QByteArray Padded(QByteArray bytes, int size)
{
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

// The field's bytes, padded with zeros to size. Latin-1 is preferred, as older
// readers expect it; UTF-8 is used when Latin-1 cannot hold the text, or when the
// Latin-1 bytes would read back as other text (they may happen to form UTF-8) and
// UTF-8 reads back right.
QByteArray EncodeField(const QString& text, int size)
{
    if (FitsLatin1(text)) {
        const QString wanted = text.left(size);
        const QByteArray latin1 = wanted.toLatin1();
        if (DecodeField(latin1) == wanted)
            return Padded(latin1, size);
        const QByteArray utf8 = Utf8Cut(text, size);
        return Padded(DecodeField(utf8) == wanted ? utf8 : latin1, size);
    }
    return Padded(Utf8Cut(text, size), size);
}

bool EndsWithTag(QFile& file, qint64 size)
{
    if (size < Tid3tag::BlockSize || !file.seek(size - Tid3tag::BlockSize))
        return false;
    return file.read(TagMarker.size()) == TagMarker;
}

bool IsRegularFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

} // namespace

bool IsWritableFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (stat(native.constData(), &st) != 0)
        return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    return access(native.constData(), W_OK) == 0;
}

uint16_t Tid3tag::FromBlock(const QByteArray& block)
{
    Q_ASSERT(block.size() == BlockSize && block.startsWith(TagMarker));
    Title = DecodeField(block.mid(3, TextSize));
    Artist = DecodeField(block.mid(33, TextSize));
    Album = DecodeField(block.mid(63, TextSize));
    Year = DecodeField(block.mid(93, YearSize));
    const QByteArray comment = block.mid(97, TextSize);
    if (comment[28] == '\0' && comment[29] != '\0') {
        Track = static_cast<uint8_t>(comment[29]);
        HasTrack = true;
        Comment = DecodeField(comment.left(TrackCommentSize));
    } else {
        Track = 0;
        HasTrack = false;
        Comment = DecodeField(comment);
    }
    Genre = static_cast<uint8_t>(block[127]);
    return (Genre > 147 && Genre != 255) ? UnknownGenreFlag : 0;
}

QByteArray Tid3tag::ToBlock() const
{
    QByteArray block = TagMarker;
    block += EncodeField(Title, TextSize);
    block += EncodeField(Artist, TextSize);
    block += EncodeField(Album, TextSize);
    block += EncodeField(Year, YearSize);
    if (HasTrack && Track != 0) {
        block += EncodeField(Comment, TrackCommentSize);
        block += '\0';
        block += static_cast<char>(Track);
    } else {
        block += EncodeField(Comment, TextSize);
    }
    block += static_cast<char>(Genre);
    Q_ASSERT(block.size() == BlockSize);
    return block;
}

uint16_t Tid3tag::ReadTag(const QString& path)
{
    // A directory or a device is not an MP3 file; opening a FIFO would block.
    if (!IsRegularFile(path))
        return FileNotFound;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileNotFound;
    FileName = path;
    const qint64 size = file.size();
    if (size < BlockSize)
        return NoTag;
    if (!file.seek(size - BlockSize))
        return ReadError;
    const QByteArray block = file.read(BlockSize);
    if (block.size() != BlockSize)
        return ReadError;
    if (!block.startsWith(TagMarker))
        return NoTag;
    return FromBlock(block);
}

uint16_t Tid3tag::WriteTag(const QString& path)
{
    const QString target = path == QLatin1String("=") ? FileName : path;
    if (!IsRegularFile(target))
        return FileNotFound;
    if (!IsWritableFile(target))
        return FileReadOnly;
    QFile file(target);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return FileNotFound;
    const qint64 size = file.size();
    const bool overwrite = EndsWithTag(file, size);
    if (file.error() != QFileDevice::NoError)
        return ReadError;
    const qint64 position = overwrite ? size - BlockSize : size;
    if (!file.seek(position))
        return IoError;
    const QByteArray block = ToBlock();
    if (file.write(block) != block.size()) {
        // A half-written tag at the end of the audio would be read as garbage by
        // every player; give the file back its old length.
        if (!overwrite)
            file.resize(size);
        return WriteError;
    }
    if (!file.flush())
        return WriteError;
    file.close();
    FileName = target;
    return 0;
}

uint8_t Tid3tag::RemoveTag()
{
    if (!IsRegularFile(FileName) || !IsWritableFile(FileName))
        return 0;
    QFile file(FileName);
    if (!file.open(QIODevice::ReadWrite))
        return 0;
    const qint64 size = file.size();
    if (EndsWithTag(file, size))
        file.resize(size - BlockSize); // a failure leaves the file as it was
    return 0;
}

void Tid3tag::SetTitle(const QString& text)
{
    Title = text.left(TextSize);
}

void Tid3tag::SetArtist(const QString& text)
{
    Artist = text.left(TextSize);
}

void Tid3tag::SetAlbum(const QString& text)
{
    Album = text.left(TextSize);
}

void Tid3tag::SetYear(const QString& text)
{
    Year = text.left(YearSize);
}

void Tid3tag::SetComment(const QString& text)
{
    Comment = text.left(TextSize);
}

void Tid3tag::SetTrack(uint8_t value)
{
    Track = value;
    HasTrack = value != 0;
}
