#pragma once

#include <QByteArray>
#include <QStringList>

// Cuts an encoder's console output into lines. A carriage return, a line feed and
// the pair of both each end a line, so a program that redraws its progress with
// bare carriage returns gives one line per update.
//
// The pipe hands us whatever the program has written so far, often half a line;
// the unfinished end is kept for the next chunk instead of being parsed as a line
// of its own, which would put the progress figure at the wrong column.
class TOutputLines {
public:
    // The lines that the chunk completes, in order. Bytes are decoded as UTF-8
    // (the locale encoding of every current Linux system) line by line, so a
    // character split between two chunks arrives whole.
    QStringList Feed(const QByteArray& chunk);
    // The unfinished last line, if any (at the end of the output).
    QStringList Flush();

private:
    QByteArray Pending;
    bool LastWasCarriageReturn = false;
};
