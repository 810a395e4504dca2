#pragma once

#include "wmaenc/wma_arguments.h"

#include <functional>
#include <string>

// Encodes one WAV file into an ASF file holding Windows Media Audio 2, on FFmpeg:
// the input is decoded (any WAV encoding FFmpeg reads), resampled and remixed to
// the asked sample rate and channel count, and encoded at the asked bit rate, or
// at the lowest rate the encoder accepts when less is asked.
//
// The output file is written in place, so its size tells an onlooker how far the
// work has come. It is created only after the input has been read and the encoder
// set up, so a bad input leaves an existing output alone; once created, a failure
// removes it, and the file counts as complete only after it has been flushed to
// the disk.
class TWmaFileEncoder {
public:
    // Called with 0..99 whenever the whole percentage of the input read changes.
    std::function<void(int)> OnProgress;
    // Called with true right after the output has been created (from then on it
    // is unfinished), with false once it is complete or has been removed.
    std::function<void(bool)> OnOutputPending;

    // Returns an empty text on success, else the reason of the failure. The
    // reason never quotes a file name or any other text of the user.
    std::string Encode(const TWmaEncArguments& arguments);

    // The bit rate of the last file, in bit/s.
    int BitRateUsed() const;

private:
    int UsedBitRate = 0;
};

// "velbrook-wmaenc 3.1 (FFmpeg 5.1.6, libavcodec 59.37.100)": the program's
// version and that of the FFmpeg it runs on, for -version.
std::string WmaEncVersion();
