#pragma once

#include "audio/ms_converter.h"
#include "audio/rate_converter.h"
#include "audio/sample_converter.h"
#include "audio/wave_format.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "core/safe_files.h"

#include <QObject>
#include <QString>

#include <vector>

class QEvent;

// WAV to WAV: a WAV source, up to four converters and a WAV sink, wired at run
// time for the output format asked for. The WAV to WAV window and the command
// line's "--convert wav-wav" both convert through it.
//
// The chain, from source to sink, takes only the converters the change needs:
//   WaveIn1 -> [SampleConverter1: 8 to 16 bits, when the input has 8 bits]
//           -> [MSConverter1: when the channel count changes]
//           -> [RateConverter1: when the sample rate changes]
//           -> [SampleConverter2: 16 to 8 bits, when 8 bits are asked for]
//           -> WaveOut1 (plain PCM or IMA ADPCM)
// The channel and rate converters take 16-bit input, hence the widening first
// and the narrowing last.
//
// Convert writes a private temporary file beside the output (TPendingFile) and
// puts it in the output's place only when the run has ended complete, so a
// stopped or failed conversion leaves no half-written file under the output's
// name (and an existing output stays as it was).
//
// Threads: built, started and stopped on one thread with an event loop (the
// owner's). The sink's events come from its worker thread as posted events and
// reach Progress and Finished on the owner's thread.
class TWavConvertChain final : public QObject {
    Q_OBJECT

public:
    struct TOutputFormat {
        int Channels = 1;
        int SampleRate = 44100;
        int BitsPerSample = 16;
        TWavType WavType = wtPCM; // wtPCM or wtDVIADPCM
    };

    explicit TWavConvertChain(QObject* parent = nullptr);
    ~TWavConvertChain() override;

    // Why the chain cannot write this format, or an empty text.
    static QString CheckFormat(const TOutputFormat& format);

    // Wires the chain for the file WaveIn1 names and format, and sets the
    // sink's encoding. Returns the chain's components from source to sink. A
    // converter not needed is unhooked, so nothing of an earlier conversion
    // hangs on to the source.
    std::vector<QObject*> Build(const TOutputFormat& format);

    // Starts converting input into output. Returns why it cannot start (the
    // output is the input, the input is not a readable WAV file, the format
    // cannot be written, the output may not be replaced, the temporary file
    // cannot be made), with nothing written; otherwise the run is going and one
    // Finished follows.
    QString Convert(const QString& input, const QString& output, const TOutputFormat& format);

    // Ends a running conversion without Finished: the temporary file goes, the
    // output stays as it was before the conversion.
    void Stop();

    bool Running() const { return IsRunning; }
    // The output of the running (or last) conversion.
    QString OutputFile() const { return Output; }

    // Whether both names lead to the same file (the same path, a link to it,
    // or another hard link of it). False when either does not exist.
    static bool SameFile(const QString& first, const QString& second);

    // Declared in chain order; destroyed sink first, so the worker is joined
    // before anything it pulls from goes away.
    TWaveIn WaveIn1;
    TSampleConverter SampleConverter1;
    TMSConverter MSConverter1;
    TRateConverter RateConverter1;
    TSampleConverter SampleConverter2;
    TWaveOut WaveOut1;

signals:
    void Progress(int percent);
    // complete: the output now holds the converted audio. Otherwise error says
    // what went wrong and the output is as it was.
    void Finished(bool complete, const QString& error);

protected:
    bool event(QEvent* e) override;

private:
    void EndRun(bool complete, const QString& error);
    // The sink names the file it writes, which is the temporary: users know
    // the file by the output's name.
    QString InOutputsName(const QString& error) const;

    bool IsRunning = false;
    QString Output;
    TPendingFile Pending;
};
