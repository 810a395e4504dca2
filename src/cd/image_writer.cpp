#include "image_writer.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <array>
#include <cmath>
#include <cstring>

namespace {

constexpr int SamplesPerFrame = CDFrameBytes / 4;
constexpr int SineSize = 4096;
constexpr int SampleRate = 44100;

const std::array<qint16, SineSize>& SineTable()
{
    static const std::array<qint16, SineSize> table = [] {
        std::array<qint16, SineSize> values{};
        for (int i = 0; i < SineSize; ++i)
            values[size_t(i)] =
                static_cast<qint16>(std::lround(std::sin(2.0 * M_PI * i / SineSize) * 32767.0));
        return values;
    }();
    return table;
}

// A pentatonic tune per voice, a quarter of a second per note.
constexpr std::array<int, 8> Scale = {262, 294, 330, 392, 440, 523, 587, 659};
constexpr qint64 SamplesPerNote = SampleRate / 4;

int NoteOf(int voice, qint64 note)
{
    const quint64 mixed = quint64(note) * 2654435761u + quint64(voice) * 40503u;
    return Scale[size_t((mixed >> 7) % Scale.size())];
}

qint16 Tone(int frequency, qint64 sampleInNote, int amplitude)
{
    // Phase in 1/65536 steps of the table, exact for any position in the note.
    const quint64 phase = quint64(sampleInNote) * quint64(frequency) * SineSize * 65536 / SampleRate;
    const int value = SineTable()[size_t((phase >> 16) % SineSize)];
    // A short fade at both ends of every note keeps it from clicking.
    const qint64 edge = std::min(sampleInNote, SamplesPerNote - 1 - sampleInNote);
    const int envelope = edge < 256 ? int(edge) : 256;
    return static_cast<qint16>(value * amplitude / 100 * envelope / 256);
}

void FillDataSector(qint64 sector, char* out)
{
    std::memset(out, 0, CDFrameBytes);
    std::memset(out + 1, 0xFF, 10);
    const qint64 frames = sector + CDLeadInFrames;
    auto bcd = [](qint64 n) { return static_cast<char>((n / 10) << 4 | (n % 10)); };
    out[12] = bcd(frames / 4500);
    out[13] = bcd(frames / 75 % 60);
    out[14] = bcd(frames % 75);
    out[15] = 1;
}

struct TLaidOutTrack {
    qint64 PregapStart;
    qint64 Start;
    qint64 Frames;
};

} // namespace

void SynthesizeFrames(int voice, qint64 firstFrame, qint64 frames, char* out)
{
    const qint64 firstSample = firstFrame * SamplesPerFrame;
    const qint64 samples = frames * SamplesPerFrame;
    for (qint64 i = 0; i < samples; ++i) {
        const qint64 sample = firstSample + i;
        const qint64 note = sample / SamplesPerNote;
        const qint64 inNote = sample % SamplesPerNote;
        const int melody = NoteOf(voice, note);
        // The right channel holds a lower part that changes every two notes.
        const int bass = NoteOf(voice + 17, note / 2) / 2;
        qToLittleEndian(Tone(melody, inNote, 40), out + i * 4);
        qToLittleEndian(Tone(bass, inNote, 30), out + i * 4 + 2);
    }
}

QString WriteDiscImage(const QString& path, const TImageSpec& spec)
{
    const QFileInfo info(path);
    const QString dataPath =
        info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".bin");
    const QString dataName = QFileInfo(dataPath).fileName();

    std::vector<TLaidOutTrack> layout;
    qint64 position = 0;
    for (const TImageTrackSpec& track : spec.Tracks) {
        layout.push_back({position, position + track.PregapFrames, track.Frames});
        position += track.PregapFrames + track.Frames;
    }

    QSaveFile data(dataPath);
    if (!data.open(QIODevice::WriteOnly))
        return data.errorString();
    constexpr qint64 ChunkFrames = 400;
    QByteArray chunk(ChunkFrames * CDFrameBytes, '\0');
    for (size_t t = 0; t < spec.Tracks.size(); ++t) {
        const TImageTrackSpec& track = spec.Tracks[t];
        const qint64 total = track.PregapFrames + track.Frames;
        for (qint64 done = 0; done < total;) {
            const qint64 n = std::min(ChunkFrames, total - done);
            if (track.Data) {
                for (qint64 f = 0; f < n; ++f)
                    FillDataSector(layout[t].PregapStart + done + f, chunk.data() + f * CDFrameBytes);
            } else if (done < track.PregapFrames) {
                // The pregap plays its own tune, so reading it as the track shows.
                const qint64 m = std::min(n, track.PregapFrames - done);
                SynthesizeFrames(track.Voice + 101, done, m, chunk.data());
                if (m < n)
                    SynthesizeFrames(track.Voice, 0, n - m, chunk.data() + m * CDFrameBytes);
            } else {
                SynthesizeFrames(track.Voice, done - track.PregapFrames, n, chunk.data());
            }
            if (data.write(chunk.constData(), n * CDFrameBytes) != n * CDFrameBytes)
                return data.errorString();
            done += n;
        }
    }
    if (!data.commit())
        return data.errorString();

    QByteArray text;
    if (spec.Format == TImageFormat::Cue) {
        text += "FILE \"" + dataName.toUtf8() + "\" BINARY\n";
        int session = 1;
        for (size_t t = 0; t < spec.Tracks.size(); ++t) {
            const TImageTrackSpec& track = spec.Tracks[t];
            if (track.Session != session) {
                session = track.Session;
                text += QStringLiteral("  REM SESSION %1\n").arg(session, 2, 10, QLatin1Char('0')).toLatin1();
            }
            text += QStringLiteral("  TRACK %1 %2\n")
                        .arg(t + 1, 2, 10, QLatin1Char('0'))
                        .arg(track.Data ? QStringLiteral("MODE1/2352") : QStringLiteral("AUDIO"))
                        .toLatin1();
            if (track.PregapFrames > 0)
                text += "    INDEX 00 " + FramesToMsfText(layout[t].PregapStart).toLatin1() + "\n";
            text += "    INDEX 01 " + FramesToMsfText(layout[t].Start).toLatin1() + "\n";
        }
    } else {
        text += "CD_DA\n";
        for (size_t t = 0; t < spec.Tracks.size(); ++t) {
            const TImageTrackSpec& track = spec.Tracks[t];
            text += "\n// Track " + QByteArray::number(qulonglong(t + 1)) + "\nTRACK AUDIO\nNO COPY\n";
            text += "FILE \"" + dataName.toUtf8() + "\" " + FramesToMsfText(layout[t].PregapStart).toLatin1();
            // The last track runs to the end of the file, as cdrdao writes it.
            if (t + 1 < spec.Tracks.size())
                text += " " + FramesToMsfText(track.PregapFrames + track.Frames).toLatin1();
            text += "\n";
            if (track.PregapFrames > 0)
                text += "START " + FramesToMsfText(track.PregapFrames).toLatin1() + "\n";
        }
    }
    QSaveFile description(path);
    if (!description.open(QIODevice::WriteOnly) || description.write(text) != text.size() ||
        !description.commit())
        return description.errorString();
    return {};
}

TImageSpec DemoDiscSpec()
{
    TImageSpec spec;
    spec.Tracks = {
        {14 * CDFramesPerSecond, 0, false, 1, 0},
        {9 * CDFramesPerSecond + 30, 0, false, 1, 1},
        {45, 0, false, 1, 2}, // shorter than a second
        {21 * CDFramesPerSecond + 12, 0, false, 1, 3},
    };
    return spec;
}

QString WriteDemoDisc(const QString& cuePath)
{
    return WriteDiscImage(cuePath, DemoDiscSpec());
}
