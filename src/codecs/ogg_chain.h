#pragma once

#include <QList>
#include <QtGlobal>

class QIODevice;

// What an existing Ogg file holds, as far as appending another logical stream
// to it is concerned. Needs libogg to be loaded.
struct TOggChain {
    // Nothing but complete pages with good checksums, from the first byte to
    // the last; false also when reading failed.
    bool WholePages = false;
    int Pages = 0;
    // Serial numbers of the logical streams, in the order they begin.
    QList<quint32> Serials;
    // Serial number of the file's last page.
    quint32 LastSerial = 0;
    // Every stream begins with a Vorbis identification header, all with the
    // channels and sample rate of the first.
    bool AllVorbis = true;
    bool SameFormat = true;
    int Channels = 0;
    int SampleRate = 0;
};

// Reads the device from its start to its end.
TOggChain ScanOggChain(QIODevice& device);

// A serial number for a stream appended to the chain: the last one + 1,
// moved on past any serial the chain already uses.
quint32 NextOggSerial(const TOggChain& chain);
