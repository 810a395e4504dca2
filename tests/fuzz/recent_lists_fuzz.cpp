// Arbitrary bytes as the desktop's recent files list and as VLC's interface
// settings: reading never crashes, a list from which nothing is removed comes
// back byte for byte, what is kept is never longer, and clearing what was
// kept removes nothing more.
#include "app/clear_history.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool (*remove)(const QByteArray&, QByteArray*, int*), const QByteArray& bytes)
{
    QByteArray kept;
    int removed = -1;
    if (!remove(bytes, &kept, &removed))
        return;
    if (removed < 0 || (removed == 0 && kept != bytes))
        std::abort();
    QByteArray again;
    int more = -1;
    if (!remove(kept, &again, &more) || more != 0 || again != kept)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Check(RemoveAudioBookmarks, bytes);
    Check(RemoveVlcRecentMedia, bytes);
    return 0;
}
