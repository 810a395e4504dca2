#pragma once

#include "audio/acs_input.h"
#include "codecs/vorbis_library.h"

#include <memory>
#include <vector>

// The Ogg Vorbis file source: decodes a file (or a stream handed in) into
// 16-bit PCM through libvorbisfile, which reads it through our own stream.
//
// Mono and stereo files are read. A chained file (several logical streams one
// after the other) is read as one as long as its streams keep the first one's
// channels and sample rate; it ends before the first that does not, and Size
// counts only what is delivered. A hole in the data (a damaged page) is
// skipped; a file cut off is read as far as it goes.
//
// Threads: as TACSFileIn. FetchData and SeekSample hold SourceLock;
// PendingJump may be set from any thread and is taken up by the next refill.
class TVorbisIn final : public TACSFileIn {
public:
    // Raises EACSException when one of the Ogg or Vorbis libraries is missing.
    explicit TVorbisIn(QObject* parent = nullptr);
    ~TVorbisIn() override;

    int GetBitsPerSample() override { return 16; }
    int FetchData(void* buffer, int bufferSize) override;
    void BeginRead() override;
    bool SeekSample(qint64 frame) override;

protected:
    void OpenSource() override;
    void CloseSource() override;

private:
    static size_t ReadCallback(void* buffer, size_t size, size_t count, void* source);
    static int SeekCallback(void* source, ogg_int64_t offset, int origin);
    static int CloseCallback(void* source);
    static long TellCallback(void* source);

    void Open();
    bool OpenStream();
    void ReleaseStream();
    void TakePendingJump();
    bool SeekFrame(qint64 frame);
    // Decodes into the buffer until it is full or the stream ends; the bytes
    // it holds.
    int Fill();
    bool Restart();

    std::unique_ptr<OggVorbis_File> Decoder; // open from OpenSource to CloseSource
    bool Seekable = false;
    int Links = 0;        // leading logical streams read
    int CurrentLink = -1; // of the last bytes decoded
    bool EndOfStream = false;
    std::vector<char> DecodeBuffer;
};
