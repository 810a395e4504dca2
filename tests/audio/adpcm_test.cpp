#include "audio/adpcm.h"
#include "audio/wave_format.h"
#include "audio_test_support.h"

#include <QBuffer>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>

namespace {

std::vector<quint8> ImaBlock(std::initializer_list<int> header, std::initializer_list<int> data)
{
    std::vector<quint8> block;
    for (int value : header)
        block.push_back(static_cast<quint8>(value));
    for (int value : data)
        block.push_back(static_cast<quint8>(value));
    return block;
}

TWavHeader Scan(const QByteArray& bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return ScanWavHeader(buffer);
}

} // namespace

TEST(ImaAdpcm, DecodesCodesWithTheStepAndIndexTables)
{
    // Header: sample 100, step index 0. Byte 0xF7: code 7 (low nibble) then 15.
    // Code 7 at step 7: 0 + 7 + 3 + 1 = 11 up, index 8 (step 16);
    // code 15 at step 16: 2 + 16 + 8 + 4 = 30 down, index 16.
    const std::vector<quint8> block = ImaBlock({100, 0, 0, 0}, {0xF7});
    qint16 out[3] = {};
    ASSERT_EQ(ImaDecodeBlock(block.data(), 5, 1, out), 3);
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(out[1], 111);
    EXPECT_EQ(out[2], 81);
}

TEST(ImaAdpcm, ClampsSamplesAndStepIndex)
{
    // 32760 + 0x7 at the largest step stays at 32767; the index stays at 88.
    const std::vector<quint8> high = ImaBlock({0xF8, 0x7F, 88, 0}, {0x77});
    qint16 out[3] = {};
    ASSERT_EQ(ImaDecodeBlock(high.data(), 5, 1, out), 3);
    EXPECT_EQ(out[1], 32767);
    EXPECT_EQ(out[2], 32767);
    // The negative side stops at -32767, one above the 16-bit minimum.
    const std::vector<quint8> low = ImaBlock({0x08, 0x80, 88, 0}, {0xFF});
    ASSERT_EQ(ImaDecodeBlock(low.data(), 5, 1, out), 3);
    EXPECT_EQ(out[1], -32767);
    // Index 0 with code 0 stays 0: d = 7 div 8 = 0, the sample does not move.
    const std::vector<quint8> quiet = ImaBlock({5, 0, 0, 0}, {0x00});
    ASSERT_EQ(ImaDecodeBlock(quiet.data(), 5, 1, out), 3);
    EXPECT_EQ(out[1], 5);
    EXPECT_EQ(out[2], 5);
    // A header step index outside the table is refused, not looked up.
    const std::vector<quint8> bad = ImaBlock({0, 0, 89, 0}, {0x00});
    EXPECT_EQ(ImaDecodeBlock(bad.data(), 5, 1, out), -1);
}

TEST(ImaAdpcm, StereoBlocksAlternateFourByteGroups)
{
    // Left header 0, right header 1000; left codes all 4 (+step), right all 12 (-step).
    std::vector<quint8> block = ImaBlock({0, 0, 0, 0, 0xE8, 0x03, 0, 0}, {});
    for (int i = 0; i < 4; ++i)
        block.push_back(0x44);
    for (int i = 0; i < 4; ++i)
        block.push_back(0xCC);
    ASSERT_EQ(ImaFramesInBlock(16, 2), 9);
    qint16 out[18] = {};
    ASSERT_EQ(ImaDecodeBlock(block.data(), 16, 2, out), 9);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1000);
    for (int f = 1; f < 9; ++f) {
        EXPECT_GT(out[2 * f], out[2 * f - 2]) << f;     // left rises
        EXPECT_LT(out[2 * f + 1], out[2 * f - 1]) << f; // right falls
    }
    // A trailing partial group is not decoded.
    EXPECT_EQ(ImaFramesInBlock(20, 2), 9);
}

TEST(ImaAdpcm, EncoderTracksWhatTheDecoderReconstructs)
{
    for (int channels : {1, 2}) {
        const int blockSize = 512;
        const int frames = ImaSamplesPerBlock(channels, blockSize);
        std::vector<qint16> input(static_cast<std::size_t>(frames * channels));
        for (int f = 0; f < frames; ++f) {
            for (int c = 0; c < channels; ++c)
                input[static_cast<std::size_t>(f * channels + c)] =
                    static_cast<qint16>(12000 * std::sin(f / (7.0 + 3 * c)));
        }
        TImaState state[2] = {};
        std::vector<quint8> block(blockSize);
        // Two blocks: the step index carries over from the first to the second.
        for (int round = 0; round < 2; ++round) {
            const int carriedIndex = state[0].StepIndex;
            ImaEncodeBlock(input.data(), channels, blockSize, state, block.data());
            EXPECT_EQ(block[2], carriedIndex);
            std::vector<qint16> decoded(input.size());
            ASSERT_EQ(ImaDecodeBlock(block.data(), blockSize, channels, decoded.data()), frames);
            EXPECT_EQ(decoded[0], input[0]); // the header sample is exact
            for (int c = 0; c < channels; ++c)
                EXPECT_EQ(state[c].Predicted, decoded[decoded.size() - channels + c]);
            double error = 0;
            for (std::size_t i = 0; i < input.size(); ++i)
                error += std::abs(decoded[i] - input[i]);
            EXPECT_LT(error / static_cast<double>(input.size()), 200.0) << channels;
        }
    }
}

TEST(MsAdpcm, DecodesWithCoefficientsAndAdaptation)
{
    TMsAdpcmCoefficients coefficients{};
    coefficients[0] = {256, 0};
    coefficients[1] = {512, -256};
    // Mono: predictor 1, delta 16, sample 1 = 100, sample 2 = 50, then codes 1, 15 (-1).
    const quint8 block[] = {1, 16, 0, 100, 0, 50, 0, 0x1F};
    qint16 out[4] = {};
    ASSERT_EQ(MsFramesInBlock(8, 1, 4), 4);
    ASSERT_EQ(MsDecodeBlock(block, 8, 1, 4, coefficients, 2, out), 4);
    // Header samples come out as sample 2, then sample 1.
    EXPECT_EQ(out[0], 50);
    EXPECT_EQ(out[1], 100);
    // (100 x 512 - 50 x 256) div 256 + 1 x 16 = 166; delta 16 x 230 div 256 = 14, at least 16.
    EXPECT_EQ(out[2], 166);
    // (166 x 512 - 100 x 256) div 256 - 16 = 216.
    EXPECT_EQ(out[3], 216);
    // A predictor index at the declared count is refused.
    EXPECT_EQ(MsDecodeBlock(block, 8, 1, 4, coefficients, 1, out), -1);
    // A negative prediction is shifted, not divided: -1 x 1 >> 8 is -1, not 0.
    coefficients[2] = {1, 0};
    const quint8 negative[] = {2, 16, 0, 0xFF, 0xFF, 0, 0, 0x00};
    ASSERT_EQ(MsDecodeBlock(negative, 8, 1, 4, coefficients, 3, out), 4);
    EXPECT_EQ(out[2], -1);
    // A block shorter than its samples per block decodes what its bytes hold.
    EXPECT_EQ(MsFramesInBlock(8, 1, 1000), 4);
    EXPECT_EQ(MsFramesInBlock(6, 1, 1000), 0);
}

TEST(WavHeaderScan, FindsTheChunksAndTheirOffsets)
{
    const QByteArray data(10, 'd');
    QByteArray ima = QByteArray("xyz") + // a few bytes before RIFF
                     Riff(Chunk("fmt ", FmtBody(17, 1, 8000, 256, 4, QByteArray("\x02\x00\xF9\x01", 4))) +
                          Chunk("fact", QByteArray("\x39\x30\x00\x00", 4)) + Chunk("data", data));
    const TWavHeader h = Scan(ima);
    EXPECT_EQ(h.WavType, wtDVIADPCM);
    EXPECT_EQ(h.RiffOffset, 3);
    EXPECT_EQ(h.SamplesPerBlock, 505);
    EXPECT_TRUE(h.HasFact);
    EXPECT_EQ(h.FactFrames, 12345u);
    EXPECT_EQ(h.FactValueOffset, 3 + 12 + 28 + 8);
    EXPECT_EQ(h.DataSizeOffset, 3 + 12 + 28 + 12 + 4);
    EXPECT_EQ(h.DataOffset, 3 + 12 + 28 + 12 + 8);
    EXPECT_EQ(h.DataSize, 10u);

    // Microsoft ADPCM coefficient pairs, read only when they all fit.
    QByteArray extra =
        QByteArray("\x20\x00\xF4\x01\x02\x00", 6) + QByteArray("\x00\x01\x00\x00\x00\x02\x00\xFF", 8);
    TWavHeader ms = Scan(Riff(Chunk("fmt ", FmtBody(2, 1, 8000, 256, 4, extra)) + Chunk("data", data)));
    EXPECT_EQ(ms.WavType, wtMSADPCM);
    EXPECT_FALSE(ms.HasFact);
    ASSERT_TRUE(ms.CoefficientsComplete);
    EXPECT_EQ(ms.CoefficientCount, 2);
    EXPECT_EQ(ms.Coefficients[1][0], 512);
    EXPECT_EQ(ms.Coefficients[1][1], -256);
    extra[4] = 33;
    ms = Scan(Riff(Chunk("fmt ", FmtBody(2, 1, 8000, 256, 4, extra)) + Chunk("data", data)));
    EXPECT_FALSE(ms.CoefficientsComplete);

    // Tags other than 1, 2, 17 and 85 end the scan, the extensible format too.
    EXPECT_EQ(Scan(Riff(Chunk("fmt ", FmtBody(0xFFFE, 2, 8000, 4, 16)) + Chunk("data", data))).WavType,
              wtUnsupported);
    EXPECT_EQ(Scan(Riff(Chunk("fmt ", FmtBody(85, 2, 8000, 1, 0)) + Chunk("data", data))).WavType, wtACM);

    // The hunt for the RIFF header gives up after 8 KB.
    const QByteArray pcm = MakePcmWav(1, 8000, 16, data);
    EXPECT_EQ(Scan(QByteArray(8000, ' ') + pcm).WavType, wtPCM);
    EXPECT_EQ(Scan(QByteArray(9000, ' ') + pcm).WavType, wtUnsupported);
}

TEST(WavHeaderScan, EndsOnStreamsOfTinyChunks)
{
    // Thousands of empty chunks before anything useful: the scan stops.
    QByteArray chunks;
    for (int i = 0; i < 5000; ++i)
        chunks += Chunk("JUNK", QByteArray());
    EXPECT_EQ(Scan(Riff(chunks + Chunk("fmt ", FmtBody(1, 1, 8000, 2, 16)) + Chunk("data", QByteArray(2, 0))))
                  .WavType,
              wtUnsupported);
    EXPECT_EQ(Scan(Riff(chunks.left(100 * 8) + Chunk("fmt ", FmtBody(1, 1, 8000, 2, 16)) +
                        Chunk("data", QByteArray(2, 0))))
                  .WavType,
              wtPCM);
}
