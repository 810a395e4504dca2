// Arbitrary bytes as the WMA encoder program's console output, cut into two
// chunks at a point the input chooses: the only report is the final one, with
// both time texts alike and at least a second; nothing is reported after an
// error line; and the cut never changes the outcome.
#include "codecs/output_lines.h"
#include "codecs/wma_output_parser.h"

#include <cstdint>
#include <cstdlib>

namespace {

struct TOutcome {
    int Reports = 0;
    bool Error = false;
    QString ErrorLine;
    bool operator==(const TOutcome&) const = default;
};

TOutcome Parse(const QByteArray& output, qsizetype cut)
{
    const TClock::time_point start = Now();
    TWmaOutputParser parser;
    parser.Reset(start);
    TOutputLines lines;
    TOutcome outcome;
    for (const QStringList& batch :
         {lines.Feed(output.left(cut)), lines.Feed(output.mid(cut)), lines.Flush()}) {
        const bool errorBefore = parser.ErrorSeen();
        for (const TProcessInfo& info : parser.Parse(batch, start)) {
            if (errorBefore || info.Percent != 100 || info.ElapsedText != QLatin1String("00:01") ||
                info.EstimatedText != info.ElapsedText)
                std::abort();
            ++outcome.Reports;
        }
    }
    outcome.Error = parser.ErrorSeen();
    outcome.ErrorLine = parser.ErrorLine();
    if (outcome.Error != outcome.ErrorLine.contains(QLatin1String("ERROR")))
        std::abort();
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray output(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype cut = size == 0 ? 0 : static_cast<qsizetype>(data[0]) % (output.size() + 1);
    if (!(Parse(output, cut) == Parse(output, output.size())))
        std::abort();
    return 0;
}
