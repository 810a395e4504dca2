#pragma once

#include <QtGlobal>
#include <array>

// Block codecs for the two ADPCM flavours found in WAV files. Pure functions on
// byte buffers: no state beyond what the caller passes, no threads, no I/O.
// Samples are interleaved 16-bit frames, left first.

// The state one IMA ADPCM encoder channel carries from block to block.
struct TImaState {
    qint16 Predicted = 0;
    quint8 StepIndex = 0;
};

inline constexpr int ImaStepCount = 89;
inline constexpr int MaxMsAdpcmCoefficients = 32;
using TMsAdpcmCoefficients = std::array<std::array<qint16, 2>, MaxMsAdpcmCoefficients>;

// Frames in one IMA ADPCM block of blockLength bytes: the header sample plus
// every complete code of the block (stereo uses whole 8-byte groups). 0 when the
// block is too short for its headers.
int ImaFramesInBlock(int blockLength, int channels);

// Samples per block as written in the fmt chunk: (2 div channels) x (blockSize -
// 4 x channels) + 1. At blockSize 512: 1017 mono, 505 stereo.
int ImaSamplesPerBlock(int channels, int blockSize);

// Decodes one block into out, which must hold ImaFramesInBlock frames. Returns
// the frame count, or -1 when a header's step index is outside the table (the
// block is then left undecoded).
int ImaDecodeBlock(const quint8* block, int blockLength, int channels, qint16* out);

// Encodes ImaSamplesPerBlock(channels, blockSize) frames into a blockSize-byte
// block. The first frame becomes each channel's header sample; state carries
// the step indexes across blocks. Stereo needs (blockSize - 8) to be a multiple
// of 8 (whole code groups); see ImaBlockSizeFits.
void ImaEncodeBlock(const qint16* frames, int channels, int blockSize, TImaState* state, quint8* block);

// Whether a block size gives whole blocks for the channel count: more than the
// headers, and whole 8-byte code groups in stereo.
bool ImaBlockSizeFits(int channels, int blockSize);

// Frames one Microsoft ADPCM block of blockLength bytes decodes to: the two
// header samples plus the coded frames the bytes hold, at most samplesPerBlock.
// 0 when the block is too short for its header.
int MsFramesInBlock(int blockLength, int channels, int samplesPerBlock);

// Decodes one block into out (MsFramesInBlock frames). Returns the frame count,
// or -1 when a predictor index is not below coefficientCount.
int MsDecodeBlock(const quint8* block, int blockLength, int channels, int samplesPerBlock,
                  const TMsAdpcmCoefficients& coefficients, int coefficientCount, qint16* out);
