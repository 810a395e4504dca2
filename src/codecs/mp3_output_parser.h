#pragma once

#include "core/helpers.h"
#include "core/messages.h"

#include <QStringList>

#include <vector>

// Turns the console lines of the MP3 encoder program into progress reports.
//
// Encoding: the figure is found once per file, three columns before the first
// "%" of the progress table, and read at that column on every later line that
// holds a "%"; the two time texts stand at columns 21 and 30. Decoding: the frame
// counter follows the first "#" as two six-character numbers, current and total.
// Columns are 1-based.
//
// The program also echoes the file names it was given. A title may hold "%" or
// "#", so lines that contain one of those names are never taken for progress.
class TMp3OutputParser {
public:
    // Forgets what it found in the previous file's output.
    void Reset(TClock::time_point startTime, const QStringList& echoedNames);

    // The reports for one batch of lines, in order; only figures 1..100 make one.
    std::vector<TProcessInfo> ParseEncodeOutput(const QStringList& lines);
    std::vector<TProcessInfo> ParseDecodeOutput(const QStringList& lines, TClock::time_point now = Now());

    int ProgressColumn = 0;
    // The most frames the decoder has said it decoded; -1 before it said any.
    int DecodedFrames = -1;
    // The last line that speaks of an error, and is no echo of a file name.
    QString LastError;

private:
    bool IsEcho(const QString& line) const;
    void NoteError(const QString& rawLine);

    TClock::time_point StartTime{};
    QStringList EchoedNames;
};

// The decimal number the text holds after trimming blanks, or fallback when it
// holds anything else (an optional minus sign and digits only).
int DecimalOr(const QString& text, int fallback);
