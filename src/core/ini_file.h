#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// An INI file with the classic profile semantics: section and key names compare
// without regard to case, a value is the text after the first "=" with blanks at
// both ends removed (at most 2047 characters), integers are decimal or "0x" hex,
// booleans 1/0, and the first of duplicate sections or keys wins. Every line the
// program does not change (other sections and keys, comments, odd lines, values
// written back unchanged) is saved byte for byte as it was read, with its own
// line break, and saving replaces the file atomically.
//
// Each line is decoded on its own: UTF-8 when it is valid UTF-8, else Latin-1,
// so one line of an older program's Latin-1 text does not change how the others
// read. Lines the program writes are UTF-8.
//
// Not thread-safe; each user owns its own instance.
class TIniFile final {
public:
    static constexpr int MaxValueLength = 2047;

    TIniFile() = default;

    // The largest file read: anything bigger is not a file of ours.
    static constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

    // Reads path; a missing or unreadable file gives an empty object (returns
    // false). Only a regular file (or a link to one) is read, and opening never
    // waits: a FIFO or a device in its place is refused like an unreadable file.
    bool Load(const QString& path);
    void LoadFromBytes(const QByteArray& bytes);

    // Writes the whole file through a temporary file and a rename, so a crash or a
    // full disk leaves the previous file in place. Creates the folder if needed.
    bool Save(const QString& path) const;
    QByteArray ToBytes() const;

    bool HasSection(const QString& section) const;
    bool HasKey(const QString& section, const QString& key) const;
    QStringList Sections() const;
    QStringList Keys(const QString& section) const;

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    int ReadInteger(const QString& section, const QString& key, int def) const;
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // Replaces the first such key in the first such section, or adds it at the end
    // of the section (the section at the end of the file). Line breaks inside the
    // value become blanks: a value is one line.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);

    // Integer reading rules of the profile format; nullopt-like false on failure.
    static bool ParseInteger(const QString& text, int& value);

    // Whether something is at path that Load refuses by its kind (a FIFO, a
    // device, a folder, a socket) or its size: a missing file is no such thing.
    static bool IsNotAFile(const QString& path);

private:
    enum class TLineKind { Other, Section, Key };
    struct TLine {
        TLineKind Kind = TLineKind::Other;
        QString Text;     // the line as read, or as we wrote it
        QString Name;     // section name or key name, trimmed
        QString Value;    // key value, trimmed
        QByteArray Bytes; // what is saved: the bytes read, or Text in UTF-8 once we wrote it
        QByteArray Break; // the line's own break; empty on a last line without one
    };

    // A line of ours, saved in UTF-8 with the file's own line break.
    TLine NewLine(TLineKind kind, const QString& name, const QString& text) const;

    // Index of the first line of the first section called name, -1 if none.
    int FindSection(const QString& section) const;
    // Index of the key line inside the section starting at sectionLine, -1 if none.
    int FindKey(int sectionLine, const QString& key) const;
    int FindKeyLine(const QString& section, const QString& key) const;

    std::vector<TLine> Lines;
    bool Bom = false;                               // the file started with a UTF-8 byte order mark
    QByteArray FileBreak = QByteArrayLiteral("\n"); // the file's first line break
};
