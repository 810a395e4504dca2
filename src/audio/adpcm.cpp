#include "adpcm.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr qint16 ImaStepTable[ImaStepCount] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int ImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

constexpr int MsAdaptationTable[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                       768, 614, 512, 409, 307, 230, 230, 230};

// Both coders apply a code the same way: the sample moves by the code's delta
// at the current step, the index moves by the index table. Precomputed for
// every index and code, so the inner loops have no data-dependent branches
// (audio makes them unpredictable, and they dominated the coding time).
struct TImaTables {
    int Delta[ImaStepCount][16];
    quint8 NextIndex[ImaStepCount][16];
};

constexpr TImaTables MakeImaTables()
{
    TImaTables t{};
    for (int index = 0; index < ImaStepCount; ++index) {
        const int step = ImaStepTable[index];
        for (int code = 0; code < 16; ++code) {
            int d = step >> 3;
            if (code & 4)
                d += step;
            if (code & 2)
                d += step >> 1;
            if (code & 1)
                d += step >> 2;
            t.Delta[index][code] = (code & 8) ? -d : d;
            const int next = index + ImaIndexTable[code];
            t.NextIndex[index][code] = static_cast<quint8>(next < 0                  ? 0
                                                           : next > ImaStepCount - 1 ? ImaStepCount - 1
                                                                                     : next);
        }
    }
    return t;
}

constexpr TImaTables ImaTables = MakeImaTables();

// One decoder (and encoder) channel while a block is worked on.
struct TImaChannel {
    int Predicted;
    int Index;

    inline int Apply(int code)
    {
        Predicted = std::clamp(Predicted + ImaTables.Delta[Index][code], -32767, 32767);
        Index = ImaTables.NextIndex[Index][code];
        return Predicted;
    }

    // The code whose reconstruction comes nearest below the sample's
    // difference, chosen bit by bit with masks instead of branches.
    inline int Encode(int sample)
    {
        const int step = ImaStepTable[Index];
        int diff = sample - Predicted;
        const int negative = diff >> 31; // all ones when negative
        diff = (diff ^ negative) - negative;
        int take = -static_cast<int>(diff >= step);
        int code = 4 & take;
        diff -= step & take;
        const int half = step >> 1;
        take = -static_cast<int>(diff >= half);
        code |= 2 & take;
        diff -= half & take;
        take = -static_cast<int>(diff >= (step >> 2));
        code |= (1 & take) | (8 & negative);
        Apply(code);
        return code;
    }
};

inline qint16 ReadInt16(const quint8* p)
{
    return static_cast<qint16>(static_cast<quint16>(p[0] | (p[1] << 8)));
}

inline void WriteInt16(quint8* p, int value)
{
    p[0] = static_cast<quint8>(value & 0xFF);
    p[1] = static_cast<quint8>((value >> 8) & 0xFF);
}

} // namespace

int ImaFramesInBlock(int blockLength, int channels)
{
    if (channels < 1 || channels > 2 || blockLength < 4 * channels)
        return 0;
    if (channels == 1)
        return 2 * (blockLength - 4) + 1;
    return (blockLength - 8) / 8 * 8 + 1;
}

int ImaSamplesPerBlock(int channels, int blockSize)
{
    return (2 / channels) * (blockSize - 4 * channels) + 1;
}

bool ImaBlockSizeFits(int channels, int blockSize)
{
    if (channels == 1)
        return blockSize > 4;
    if (channels == 2)
        return blockSize > 8 && (blockSize - 8) % 8 == 0;
    return false;
}

int ImaDecodeBlock(const quint8* block, int blockLength, int channels, qint16* out)
{
    const int frames = ImaFramesInBlock(blockLength, channels);
    if (frames == 0)
        return 0;
    TImaChannel state[2] = {};
    for (int c = 0; c < channels; ++c) {
        const quint8* header = block + 4 * c;
        if (header[2] >= ImaStepCount)
            return -1;
        state[c].Predicted = ReadInt16(header);
        state[c].Index = header[2];
        out[c] = static_cast<qint16>(state[c].Predicted);
    }
    const quint8* data = block + 4 * channels;
    if (channels == 1) {
        TImaChannel& ch = state[0];
        qint16* o = out + 1;
        for (int k = 0; k < blockLength - 4; ++k) {
            const int byte = data[k];
            *o++ = static_cast<qint16>(ch.Apply(byte & 0x0F));
            *o++ = static_cast<qint16>(ch.Apply(byte >> 4));
        }
        return frames;
    }
    // The two channels are independent chains: working on both in one loop
    // lets the processor overlap them.
    const int groups = (blockLength - 8) / 8;
    TImaChannel& left = state[0];
    TImaChannel& right = state[1];
    for (int g = 0; g < groups; ++g) {
        const quint8* l = data + 8 * g;
        const quint8* r = l + 4;
        qint16* o = out + 2 * (1 + 8 * g);
        for (int k = 0; k < 4; ++k) {
            o[0] = static_cast<qint16>(left.Apply(l[k] & 0x0F));
            o[1] = static_cast<qint16>(right.Apply(r[k] & 0x0F));
            o[2] = static_cast<qint16>(left.Apply(l[k] >> 4));
            o[3] = static_cast<qint16>(right.Apply(r[k] >> 4));
            o += 4;
        }
    }
    return frames;
}

void ImaEncodeBlock(const qint16* frames, int channels, int blockSize, TImaState* state, quint8* block)
{
    std::memset(block, 0, static_cast<size_t>(blockSize));
    TImaChannel ch[2] = {};
    for (int c = 0; c < channels; ++c) {
        ch[c].Predicted = frames[c];
        ch[c].Index = std::min<int>(state[c].StepIndex, ImaStepCount - 1);
        WriteInt16(block + 4 * c, frames[c]);
        block[4 * c + 2] = static_cast<quint8>(ch[c].Index);
        block[4 * c + 3] = 0;
    }
    quint8* data = block + 4 * channels;
    if (channels == 1) {
        const int bytes = blockSize - 4;
        const qint16* in = frames + 1;
        for (int k = 0; k < bytes; ++k) {
            const int low = ch[0].Encode(*in++);
            const int high = ch[0].Encode(*in++);
            data[k] = static_cast<quint8>(low | (high << 4));
        }
    } else {
        // Both channels in one loop, as in the decoder.
        const int groups = (blockSize - 8) / 8;
        for (int g = 0; g < groups; ++g) {
            quint8* l = data + 8 * g;
            quint8* r = l + 4;
            const qint16* in = frames + 2 * (1 + 8 * g);
            for (int k = 0; k < 4; ++k) {
                const int lowLeft = ch[0].Encode(in[0]);
                const int lowRight = ch[1].Encode(in[1]);
                const int highLeft = ch[0].Encode(in[2]);
                const int highRight = ch[1].Encode(in[3]);
                l[k] = static_cast<quint8>(lowLeft | (highLeft << 4));
                r[k] = static_cast<quint8>(lowRight | (highRight << 4));
                in += 4;
            }
        }
    }
    for (int c = 0; c < channels; ++c) {
        state[c].Predicted = static_cast<qint16>(ch[c].Predicted);
        state[c].StepIndex = static_cast<quint8>(ch[c].Index);
    }
}

int MsFramesInBlock(int blockLength, int channels, int samplesPerBlock)
{
    if (channels < 1 || channels > 2 || samplesPerBlock < 2 || blockLength < 7 * channels)
        return 0;
    const int coded = (blockLength - 7 * channels) * 2 / channels;
    return 2 + std::min(samplesPerBlock - 2, coded);
}

int MsDecodeBlock(const quint8* block, int blockLength, int channels, int samplesPerBlock,
                  const TMsAdpcmCoefficients& coefficients, int coefficientCount, qint16* out)
{
    const int frames = MsFramesInBlock(blockLength, channels, samplesPerBlock);
    if (frames == 0)
        return 0;
    int coef1[2] = {};
    int coef2[2] = {};
    // 64-bit state: a damaged file can drive delta far beyond 16 bits.
    qint64 delta[2] = {};
    qint64 sample1[2] = {};
    qint64 sample2[2] = {};
    for (int c = 0; c < channels; ++c) {
        const int predictor = block[c];
        if (predictor >= coefficientCount)
            return -1;
        coef1[c] = coefficients[static_cast<size_t>(predictor)][0];
        coef2[c] = coefficients[static_cast<size_t>(predictor)][1];
        delta[c] = ReadInt16(block + channels + 2 * c);
        sample1[c] = ReadInt16(block + 3 * channels + 2 * c);
        sample2[c] = ReadInt16(block + 5 * channels + 2 * c);
        out[c] = static_cast<qint16>(sample2[c]);
        out[channels + c] = static_cast<qint16>(sample1[c]);
    }
    const quint8* data = block + 7 * channels;
    const int codes = (frames - 2) * channels;
    qint16* o = out + 2 * channels;
    for (int n = 0; n < codes; ++n) {
        const int byte = data[n / 2];
        const int code = (n % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        const int c = n % channels;
        const int value = code >= 8 ? code - 16 : code;
        // An arithmetic shift, as the format's reference decoder and the
        // encoders that write these files compute it; a division would round
        // negative predictions the other way and drift from the encoder.
        qint64 predicted = ((sample1[c] * coef1[c] + sample2[c] * coef2[c]) >> 8) + value * delta[c];
        predicted = std::clamp<qint64>(predicted, -32768, 32767);
        delta[c] = std::clamp<qint64>(delta[c] * MsAdaptationTable[code] / 256, 16, INT_MAX / 768);
        sample2[c] = sample1[c];
        sample1[c] = predicted;
        *o++ = static_cast<qint16>(predicted);
    }
    return frames;
}
