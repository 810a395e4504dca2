#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <vector>

class TACSOutput;
class TVorbisOut;

// Fixtures of the Ogg Vorbis tests (beside those of tests/audio). The program
// loads the Ogg and Vorbis libraries once, in a global test environment, as
// main does. oggdec, ogginfo and oggenc are the independent readers and peers.

// A PCM WAV file of TestSignal, frames long.
void WriteSignalWav(const QString& path, qint64 frames, int channels, int rate = 44100, int bits = 16);

struct TRunEnd {
    int Done = 0;
    int Errors = 0;
    QString Error;
};
// Runs the sink and waits until it has ended (OnDone or OnThreadException).
TRunEnd RunToEnd(TACSOutput& sink);
// Encodes a WAV file through TWaveIn -> TVorbisOut, configured first.
TRunEnd EncodeWav(const QString& wav, const QString& ogg,
                  const std::function<void(TVorbisOut&)>& configure = {});

// oggdec's decoding: 16-bit signed little-endian, interleaved.
QByteArray OggdecRaw(const QString& ogg);
// ogginfo's report; the test fails when ogginfo warns about the file.
QString OggInfo(const QString& ogg);

// One page of an Ogg file, read by hand.
struct TOggPage {
    qint64 Offset = 0;
    quint8 Flags = 0; // 1 continued, 2 first of its stream, 4 last of its stream
    qint64 Granule = 0;
    QList<int> Lacing;
    int Length = 0; // header and body
    // Packets that end on this page.
    int PacketsEnded() const;
};
// The page whose header starts at offset, as its header describes it.
TOggPage PageAt(const QByteArray& file, qint64 offset);
// The pages from the start of the bytes up to the first that is not whole.
std::vector<TOggPage> ReadOggPages(const QByteArray& file);
// Makes the checksum of the page at offset fit what its header now says.
void FixPageChecksum(QByteArray& file, qint64 offset);

// Correlation coefficient of two sample sequences over their common length.
double Correlation(const std::vector<qint16>& a, const std::vector<qint16>& b);
