#include "id3_tag.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
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

// A cut that keeps a character made of two UTF-16 units whole.
QString LeftCharacters(const QString& text, int count)
{
    if (text.size() <= count)
        return text;
    const bool splitsPair = text.at(count - 1).isHighSurrogate() && text.at(count).isLowSurrogate();
    return text.left(splitsPair ? count - 1 : count);
}

// The file a tag operation works on, open while the object lives.
class TTagFile {
public:
    TTagFile() = default;
    ~TTagFile()
    {
        if (Handle >= 0)
            ::close(Handle);
    }
    TTagFile(const TTagFile&) = delete;
    TTagFile& operator=(const TTagFile&) = delete;

    // Opens path, following a link the user named, when it is a regular file;
    // sets error and returns a result code otherwise.
    uint16_t Open(const QString& path, bool forWriting, TFileError* error)
    {
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        // Looked at before opening: opening a device may already do something.
        if (::stat(native.constData(), &st) != 0) {
            *error = TFileError::FromErrno();
            return Tid3tag::FileNotFound;
        }
        if (!S_ISREG(st.st_mode)) {
            *error = S_ISDIR(st.st_mode) ? TFileError(EISDIR) : TFileError::NotPlainFile();
            return Tid3tag::FileNotFound;
        }
        if (forWriting && !IsWritableFile(path)) {
            *error = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ? TFileError::WriteProtected()
                                                                       : TFileError(EACCES);
            return Tid3tag::FileReadOnly;
        }
        // No O_CREAT: a file that vanished meanwhile is not made anew. Non-blocking,
        // so a FIFO that took the name since cannot hang us.
        Handle =
            ::open(native.constData(), (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (Handle < 0) {
            *error = TFileError::FromErrno();
            return (errno == EACCES || errno == EROFS) && forWriting ? Tid3tag::FileReadOnly
                                                                     : Tid3tag::FileNotFound;
        }
        if (::fstat(Handle, &st) != 0 || !S_ISREG(st.st_mode)) {
            *error = TFileError::NotPlainFile();
            return Tid3tag::FileNotFound;
        }
        const int flags = ::fcntl(Handle, F_GETFL);
        if (flags < 0 || ::fcntl(Handle, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            *error = TFileError::FromErrno();
            return Tid3tag::IoError;
        }
        Size = st.st_size;
        return 0;
    }

    // The last 128 bytes when the file is that long (an empty array otherwise),
    // or false when they cannot be read.
    bool ReadLastBlock(QByteArray* block, TFileError* error) const
    {
        block->clear();
        if (Size < Tid3tag::BlockSize)
            return true;
        QByteArray bytes(Tid3tag::BlockSize, '\0');
        qint64 done = 0;
        while (done < Tid3tag::BlockSize) {
            const ssize_t got =
                ::pread(Handle, bytes.data() + done, static_cast<size_t>(Tid3tag::BlockSize - done),
                        static_cast<off_t>(Size - Tid3tag::BlockSize + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                // Zero bytes: the file got shorter since we looked.
                *error = got < 0 ? TFileError::FromErrno() : TFileError(EIO);
                return false;
            }
            done += got;
        }
        *block = bytes;
        return true;
    }

    TFileError WriteAt(qint64 position, const QByteArray& bytes) const
    {
        if (::lseek(Handle, static_cast<off_t>(position), SEEK_SET) < 0)
            return TFileError::FromErrno();
        return WriteFully(Handle, bytes.constData(), bytes.size());
    }

    TFileError Truncate(qint64 size) const
    {
        return ::ftruncate(Handle, static_cast<off_t>(size)) == 0 ? TFileError() : TFileError::FromErrno();
    }

    // Closes the file; a failure here may be a write the system could not do.
    TFileError Close()
    {
        const int handle = Handle;
        Handle = -1;
        return ::close(handle) == 0 ? TFileError() : TFileError::FromErrno();
    }

    qint64 Size = 0;

private:
    int Handle = -1;
};

bool IsTagBlock(const QByteArray& block)
{
    return block.size() == Tid3tag::BlockSize && block.startsWith(TagMarker);
}

} // namespace

bool IsWritableFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (stat(native.constData(), &st) != 0)
        return false;
    if (IsWriteProtected(path))
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
    TTagFile file;
    if (const uint16_t result = file.Open(path, false, &LastError))
        return result;
    FileName = path;
    QByteArray block;
    if (!file.ReadLastBlock(&block, &LastError))
        return ReadError;
    LastError = {};
    if (!IsTagBlock(block))
        return NoTag;
    return FromBlock(block);
}

uint16_t Tid3tag::WriteTag(const QString& path)
{
    const QString target = path == QLatin1String("=") ? FileName : path;
    TTagFile file;
    if (const uint16_t result = file.Open(target, true, &LastError))
        return result;
    // Where the tag goes is decided now, on the file as it is, not as it was read.
    QByteArray old;
    if (!file.ReadLastBlock(&old, &LastError))
        return ReadError;
    const bool overwrite = IsTagBlock(old);
    const qint64 position = overwrite ? file.Size - BlockSize : file.Size;
    LastError = file.WriteAt(position, ToBlock());
    if (LastError) {
        // A half-written tag would be read as garbage by every player: put the
        // old one back, or give the file its old length.
        if (overwrite)
            file.WriteAt(position, old);
        else
            file.Truncate(file.Size);
        return WriteError;
    }
    LastError = file.Close();
    if (LastError)
        return WriteError;
    FileName = target;
    return 0;
}

uint16_t Tid3tag::RemoveTag()
{
    TTagFile file;
    if (const uint16_t result = file.Open(FileName, true, &LastError)) {
        // A read-only file without a tag has nothing to remove.
        TTagFile reader;
        QByteArray block;
        TFileError ignored;
        if (result == FileReadOnly && reader.Open(FileName, false, &ignored) == 0 &&
            reader.ReadLastBlock(&block, &ignored) && !IsTagBlock(block)) {
            LastError = {};
            return 0;
        }
        return result;
    }
    QByteArray block;
    if (!file.ReadLastBlock(&block, &LastError))
        return ReadError;
    // Only a tag that is there now is cut: the audio before it is never touched.
    if (IsTagBlock(block)) {
        LastError = file.Truncate(file.Size - BlockSize);
        if (LastError)
            return WriteError;
    }
    LastError = file.Close();
    return LastError ? WriteError : 0;
}

void Tid3tag::SetTitle(const QString& text)
{
    Title = LeftCharacters(text, TextSize);
}

void Tid3tag::SetArtist(const QString& text)
{
    Artist = LeftCharacters(text, TextSize);
}

void Tid3tag::SetAlbum(const QString& text)
{
    Album = LeftCharacters(text, TextSize);
}

void Tid3tag::SetYear(const QString& text)
{
    Year = LeftCharacters(text, YearSize);
}

void Tid3tag::SetComment(const QString& text)
{
    Comment = LeftCharacters(text, TextSize);
}

void Tid3tag::SetTrack(uint8_t value)
{
    Track = value;
    HasTrack = value != 0;
}
