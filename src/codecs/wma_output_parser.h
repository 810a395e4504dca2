#pragma once

#include "core/helpers.h"
#include "core/messages.h"

#include <QStringList>

#include <vector>

// Reads the console lines of the WMA encoder program, which shows no running
// progress the job window could use: a line holding "ERROR" means the file
// failed, and that line is what the user is shown; a line holding "100%" means
// the file is complete. Everything else is ignored, and so is everything after
// the first error line: a file that failed is not completed later.
class TWmaOutputParser {
public:
    // Starts a new file.
    void Reset(TClock::time_point startTime);

    // The reports for one batch of lines, in order: for "100%" one with Percent
    // 100 and both time texts the time elapsed, at least 00:01.
    std::vector<TProcessInfo> Parse(const QStringList& lines, TClock::time_point now = Now());

    bool ErrorSeen() const;
    // The first error line, untrimmed.
    QString ErrorLine() const;

private:
    TClock::time_point StartTime{};
    bool HasError = false;
    QString Error;
};
