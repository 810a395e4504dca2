// Arbitrary bytes as an Ogg Vorbis file: either the source refuses them or a
// read runs to a clean end, never giving more than asked, whole frames only,
// and never more than the Size it announced; a jump taken halfway keeps the
// position inside the stream.
#include "audio/acs_exception.h"
#include "codecs/vorbis_in.h"
#include "codecs/vorbis_library.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Loaded for good: a library still mapped at exit is named in leak reports.
[[maybe_unused]] const bool Loaded = [] {
    LoadVorbisLibraries();
    return true;
}();

} // namespace

// libvorbisfile 1.3.7 leaks what libvorbis allocated for a file it then refuses;
// libvorbis keeps no frame pointers, so only the slow unwinder reaches the
// libvorbisfile frame that the leak suppression names.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TVorbisIn in;
    in.SetStream(&buffer);
    try {
        in.BeginRead();
    } catch (const EACSException&) {
        if (in.IsValid())
            std::abort(); // a valid source must open
        return 0;
    }
    // Asked while open, so the file is not opened again for each.
    const int channels = in.GetChannels();
    if (!in.IsValid() || channels < 1 || channels > 2 || in.GetSampleRate() < 1 ||
        in.GetBitsPerSample() != 16)
        std::abort();
    in.GetTotalTime();
    const qint64 announced = in.Size();
    const int frameBytes = 2 * channels;
    const int jump = size > 0 ? static_cast<int>(data[size - 1]) - 128 : 0;
    bool jumped = false;
    std::vector<char> chunk(7919);
    qint64 delivered = 0;
    for (int reads = 0;; ++reads) {
        const int count = in.FetchData(chunk.data(), static_cast<int>(chunk.size()));
        if (count < 0 || count > static_cast<int>(chunk.size()))
            std::abort();
        if (count == 0)
            break;
        delivered += count;
        if (announced >= 0 && (in.Position() > announced || in.Position() < 0))
            std::abort();
        if (!jumped && delivered >= announced / 2) {
            jumped = true;
            in.SetPendingJump(jump);
        }
        // One jump back can at most deliver the stream twice.
        if (announced >= 0 && delivered > 2 * announced + static_cast<qint64>(chunk.size()))
            std::abort();
        if (reads > 1000000)
            std::abort();
    }
    if (delivered % frameBytes != 0)
        std::abort();
    in.EndRead();
    return 0;
}
