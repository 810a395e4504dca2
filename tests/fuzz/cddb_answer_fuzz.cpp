// Arbitrary bytes as a CDDB server's answer to a query or a read. Every match
// must be fit to go back to the server in a read command, and a read's entry
// must be a piece of the answer.
#include "cd/cddb_protocol.h"

#include <QRegularExpression>

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
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const TCddbQueryAnswer query = ParseCddbQueryAnswer(body);
    Check(query.Matches.size() <= CDDBMaxMatches);
    Check((query.Kind == TCddbQueryAnswer::TKind::Matches) == !query.Matches.isEmpty());
    Check(query.StatusLine.size() <= 200);
    static const QRegularExpression word(QStringLiteral("^cddb read [a-z0-9_-]{1,40} [0-9a-f]{8}$"));
    for (const CDDBMatch& match : query.Matches)
        Check(word.match(CddbReadCommand(match)).hasMatch());

    const TCddbReadAnswer read = ParseCddbReadAnswer(body);
    Check(read.Entry.isEmpty() || (read.Found && body.contains(read.Entry)));
    // The status line may stand after blanks, as the query's may.
    Check(!read.Found || (read.StatusLine.startsWith(u"210") && body.contains("210")));
    return 0;
}
