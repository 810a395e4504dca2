#pragma once

#include <QString>
#include <chrono>
#include <cstdint>

// Small helpers shared by every module: number and time texts, file names and
// file questions. All of them are safe to call from any thread.

// Decimal text of n with a leading "0" for 0..9 (7 gives "07", 100 gives "100").
QString FormatTwoDigits(qint64 n);

// "mm:ss" for a number of whole seconds; minutes are not wrapped (6000 s gives
// "100:00"). Negative durations show as "00:00".
QString TimeText(qint64 seconds);

// Nearest integer, halves going to the even neighbour (2.5 gives 2, 3.5 gives 4).
qint64 RoundHalfEven(double x);

// The program's clock for elapsed times: monotonic, so a change of the wall
// clock (or midnight) never makes a job look hours long or negative.
using TClock = std::chrono::steady_clock;
TClock::time_point Now();

// Whole seconds from start to now, rounded half to even.
qint64 ElapsedSeconds(TClock::time_point start, TClock::time_point now = Now());

// The text without the characters * / : < > ? \ | and without control
// characters (U+0000 to U+001F and DEL), which no file name should carry: they
// would reach terminals and file lists raw. Everything else stays.
QString CleanFileName(const QString& text);

// An empty path stays empty; otherwise the platform separator is appended unless
// the path already ends with it.
QString WithTrailingBackslash(const QString& path);

// Whether a file we are about to overwrite is busy: false when nothing exists at
// the path; true when the entry is not a regular file, when it cannot be opened
// for reading and writing, or when another process holds it open.
bool IsFileInUse(const QString& path);

// Waits ms milliseconds on the monotonic clock; returns at once below 1 ms.
void WaitMilliseconds(qint64 ms);

// Size in bytes of the regular file at path, -1 when there is none.
qint64 FileSizeOf(const QString& path);
