// Arbitrary bytes as the encoder program's console output, cut into two chunks at
// a point the input chooses: every report holds a figure within 1..100, and the
// cut never changes what is reported.
#include "codecs/mp3_output_parser.h"
#include "codecs/output_lines.h"

#include <cstdint>
#include <cstdlib>

namespace {

std::vector<int> Parse(const QByteArray& output, qsizetype cut)
{
    TMp3OutputParser parser;
    parser.Reset(Now(), {QStringLiteral("/music/in.wav")});
    TOutputLines lines;
    std::vector<int> percents;
    for (const QStringList& batch :
         {lines.Feed(output.left(cut)), lines.Feed(output.mid(cut)), lines.Flush()}) {
        for (const TProcessInfo& info : parser.ParseEncodeOutput(batch)) {
            if (info.Percent < 1 || info.Percent > 100 || info.ElapsedText.size() > 8 ||
                info.EstimatedText.size() > 8)
                std::abort();
            percents.push_back(info.Percent);
        }
    }
    return percents;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray output(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype cut = size == 0 ? 0 : static_cast<qsizetype>(data[0]) % (output.size() + 1);
    if (Parse(output, cut) != Parse(output, output.size()))
        std::abort();
    return 0;
}
