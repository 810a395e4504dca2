// Arbitrary bytes as the Ogg file a stream is appended to: the scan answers,
// and the serial number it picks for the new stream is one the file does not
// use.
#include "codecs/ogg_chain.h"
#include "codecs/vorbis_library.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

namespace {

// Loaded for good: a library still mapped at exit is named in leak reports.
[[maybe_unused]] const bool Loaded = [] {
    LoadVorbisLibraries();
    return true;
}();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const TOggChain chain = ScanOggChain(buffer);
    if (chain.WholePages && chain.Pages == 0)
        std::abort();
    if (chain.Serials.size() > chain.Pages)
        std::abort();
    if (chain.Pages > 0 && !chain.Serials.contains(chain.LastSerial))
        std::abort();
    if (chain.Serials.contains(NextOggSerial(chain)))
        std::abort();
    return 0;
}
