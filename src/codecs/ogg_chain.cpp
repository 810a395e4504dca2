#include "ogg_chain.h"

#include "codecs/vorbis_library.h"

#include <QIODevice>
#include <QtEndian>

#include <cstring>

namespace {

constexpr long ReadBytes = 65536;

// The Vorbis identification header opens every Vorbis stream, alone on the
// stream's first page.
bool ReadIdentification(const ogg_page& page, int& channels, int& rate)
{
    if (page.body_len < 16 || page.body[0] != 1 || std::memcmp(page.body + 1, "vorbis", 6) != 0)
        return false;
    channels = page.body[11];
    rate = static_cast<int>(qFromLittleEndian<quint32>(page.body + 12));
    return true;
}

void TakePage(TOggChain& chain, const ogg_page& page, bool& haveFormat)
{
    const TVorbisApi& api = VorbisApi();
    const quint32 serial = static_cast<quint32>(api.ogg_page_serialno(&page));
    ++chain.Pages;
    chain.LastSerial = serial;
    if (!chain.Serials.contains(serial))
        chain.Serials.append(serial);
    if (!api.ogg_page_bos(&page))
        return;
    int channels = 0;
    int rate = 0;
    if (!ReadIdentification(page, channels, rate)) {
        chain.AllVorbis = false;
        return;
    }
    if (!haveFormat) {
        haveFormat = true;
        chain.Channels = channels;
        chain.SampleRate = rate;
    } else if (channels != chain.Channels || rate != chain.SampleRate) {
        chain.SameFormat = false;
    }
}

} // namespace

TOggChain ScanOggChain(QIODevice& device)
{
    const TVorbisApi& api = VorbisApi();
    TOggChain chain;
    if (!device.seek(0))
        return chain;
    ogg_sync_state sync;
    api.ogg_sync_init(&sync);
    struct TClear {
        ogg_sync_state* Sync;
        ~TClear() { VorbisApi().ogg_sync_clear(Sync); }
    } clear{&sync};

    bool whole = true;
    bool haveFormat = false;
    qint64 fed = 0;
    qint64 taken = 0;
    for (;;) {
        ogg_page page;
        const long result = api.ogg_sync_pageseek(&sync, &page);
        if (result > 0) {
            taken += result;
            TakePage(chain, page, haveFormat);
            continue;
        }
        if (result < 0) {
            // Bytes that are not part of any page.
            whole = false;
            taken -= result;
            continue;
        }
        char* buffer = api.ogg_sync_buffer(&sync, ReadBytes);
        if (!buffer)
            return chain;
        const qint64 count = device.read(buffer, ReadBytes);
        if (count < 0)
            return chain;
        if (count == 0)
            break;
        api.ogg_sync_wrote(&sync, static_cast<long>(count));
        fed += count;
    }
    // A page cut off at the end is left over unread.
    chain.WholePages = whole && taken == fed && chain.Pages > 0;
    return chain;
}

quint32 NextOggSerial(const TOggChain& chain)
{
    quint32 serial = chain.LastSerial + 1;
    while (chain.Serials.contains(serial))
        ++serial;
    return serial;
}
