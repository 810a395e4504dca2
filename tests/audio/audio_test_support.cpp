#include "audio_test_support.h"

#include "audio/acs_exception.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

TToneSource::TToneSource(qint64 frames, int channels, int bits, int rate)
    : Frames(frames), Channels(channels), Bits(bits), Rate(rate)
{
}

TToneSource::~TToneSource()
{
    DetachUsers();
}

qint16 TToneSource::SampleAt(qint64 frame, int channel)
{
    return static_cast<qint16>((frame * 37 + channel * 1000) % 20000 - 10000);
}

int TToneSource::FetchData(void* buffer, int bufferSize)
{
    if (!Busy())
        throw EACSException(QStringLiteral("The Stream is not opened"));
    ReadsInProgress.fetch_add(1);
    if (ReadDelayMs.load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ReadDelayMs.load()));
    const qint64 failAfter = FailAfterBytes.load();
    if (failAfter >= 0 && Delivered >= failAfter) {
        ReadsInProgress.fetch_sub(1);
        throw EACSException(QStringLiteral("Read failed"));
    }
    const int frameBytes = Channels * Bits / 8;
    const qint64 frames = std::min<qint64>(bufferSize / frameBytes, Frames - Delivered / frameBytes);
    auto* out = static_cast<char*>(buffer);
    for (qint64 f = 0; f < frames; ++f) {
        const qint64 frame = Delivered / frameBytes + f;
        for (int c = 0; c < Channels; ++c) {
            const qint16 s = SampleAt(frame, c);
            if (Bits == 16) {
                qToLittleEndian<qint16>(s, out);
                out += 2;
            } else {
                *out++ = static_cast<char>((s >> 8) + 128);
            }
        }
    }
    const int bytes = static_cast<int>(frames * frameBytes);
    Delivered += bytes;
    PositionValue += bytes;
    ReadsInProgress.fetch_sub(1);
    return bytes;
}

void TToneSource::BeginRead()
{
    if (Busy())
        throw EACSException(QStringLiteral("The component is buisy"));
    BeginCount.fetch_add(1);
    Delivered = 0;
    PositionValue = 0;
    SizeValue = AnnouncedSize.load() == -2 ? TotalBytes() : AnnouncedSize.load();
    BusyValue = true;
}

void TToneSource::EndRead()
{
    EndCount.fetch_add(1);
    if (ReadsInProgress.load() > 0)
        EndedDuringRead = true;
    BusyValue = false;
}

TBytesSource::TBytesSource(QByteArray bytes, int channels, int bits, int rate)
    : Data(std::move(bytes)), Channels(channels), Bits(bits), Rate(rate)
{
}

TBytesSource::~TBytesSource()
{
    DetachUsers();
}

int TBytesSource::FetchData(void* buffer, int bufferSize)
{
    if (!Busy())
        throw EACSException(QStringLiteral("The Stream is not opened"));
    qint64 count = std::min<qint64>(bufferSize, Data.size() - Delivered);
    if (MaxRead.load() > 0)
        count = std::min<qint64>(count, MaxRead.load());
    std::memcpy(buffer, Data.constData() + Delivered, static_cast<std::size_t>(count));
    Delivered += count;
    PositionValue += count;
    {
        std::lock_guard lock(ReadLock);
        ReadCounts.push_back(static_cast<int>(count));
    }
    return static_cast<int>(count);
}

std::vector<int> TBytesSource::Reads() const
{
    std::lock_guard lock(ReadLock);
    return ReadCounts;
}

void TBytesSource::BeginRead()
{
    if (Busy())
        throw EACSException(QStringLiteral("The component is buisy"));
    {
        std::lock_guard lock(ReadLock);
        ReadCounts.clear();
    }
    Delivered = 0;
    PositionValue = 0;
    SizeValue = AnnouncedSize.load() == -2 ? Data.size() : AnnouncedSize.load();
    BusyValue = true;
}

void TBytesSource::EndRead()
{
    BusyValue = false;
}

TPassConverter::~TPassConverter()
{
    DetachUsers();
}

int TPassConverter::FetchData(void* buffer, int bufferSize)
{
    if (!Busy())
        throw EACSException(QStringLiteral("The Stream is not opened"));
    const int count = FetchFromInput(buffer, bufferSize);
    PositionValue += count;
    return count;
}

void TPassConverter::BeginRead()
{
    TACSInput* input = RequireInput();
    input->BeginRead();
    SizeValue = input->Size();
    PositionValue = 0;
    BusyValue = true;
}

void TPassConverter::EndRead()
{
    if (TACSInput* input = Input())
        input->EndRead();
    BusyValue = false;
}

TMemorySink::~TMemorySink()
{
    ShutdownWorker();
}

QByteArray TMemorySink::Data() const
{
    std::lock_guard lock(DataLock);
    return Received;
}

void TMemorySink::PrepareOutput()
{
    if (FailPrepare.load())
        throw EACSException(QStringLiteral("Prepare failed"));
    BeginInputRead();
    std::lock_guard lock(DataLock);
    Received.clear();
    Buffer.resize(static_cast<std::size_t>(ReadSize.load()));
}

bool TMemorySink::OutputStep(bool abort)
{
    if (!OutputEnabled())
        return true;
    ReportProgress();
    if (abort || !OutputEnabled())
        return false;
    Steps.fetch_add(1);
    const int count = FetchFromInput(Buffer.data(), static_cast<int>(Buffer.size()));
    if (count <= 0)
        return false;
    std::lock_guard lock(DataLock);
    Received.append(Buffer.data(), count);
    return true;
}

void TMemorySink::DoFinishOutput()
{
    FinishCount.fetch_add(1);
}

TSinkEvents::TSinkEvents(TACSOutput& sink)
{
    std::shared_ptr<TState> state = State;
    sink.SetOnDone([state](TACSOutput*) {
        std::lock_guard lock(state->Lock);
        ++state->DoneCount;
    });
    sink.SetOnProgress([state](TACSOutput* sender) {
        std::lock_guard lock(state->Lock);
        ++state->ProgressCount;
        state->Values.push_back(sender->LastProgress());
    });
    sink.SetOnThreadException([state](TACSOutput*, const std::exception& error) {
        std::lock_guard lock(state->Lock);
        ++state->ErrorCount;
        state->Error = QString::fromStdString(error.what());
    });
}

int TSinkEvents::Done() const
{
    std::lock_guard lock(State->Lock);
    return State->DoneCount;
}

int TSinkEvents::Progress() const
{
    std::lock_guard lock(State->Lock);
    return State->ProgressCount;
}

int TSinkEvents::Errors() const
{
    std::lock_guard lock(State->Lock);
    return State->ErrorCount;
}

QString TSinkEvents::LastError() const
{
    std::lock_guard lock(State->Lock);
    return State->Error;
}

std::vector<int> TSinkEvents::ProgressValues() const
{
    std::lock_guard lock(State->Lock);
    return State->Values;
}

bool TSinkEvents::WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    return WaitUntil(predicate, timeout);
}

bool TSinkEvents::WaitForEnd(std::chrono::milliseconds timeout)
{
    return WaitFor([this] { return Done() + Errors() > 0; }, timeout);
}

bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

QByteArray RunProgram(const QString& program, const QStringList& arguments)
{
    // fork and exec rather than QProcess: QProcess starts children with a
    // vfork-style clone that ThreadSanitizer cannot follow, and these tests
    // run under it.
    std::vector<QByteArray> args{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        args.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : args)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    QByteArray output;
    QByteArray errors;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0 && poll(fds, 2, 120000) > 0) {
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || fd.revents == 0)
                continue;
            const ssize_t n = read(fd.fd, buffer, sizeof buffer);
            if (n > 0) {
                (fd.fd == out[0] ? output : errors).append(buffer, n);
            } else {
                close(fd.fd);
                fd.fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0)
            close(fd.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString()
                      << " failed: " << errors.toStdString();
        return {};
    }
    return output;
}

std::vector<qint16> SoxDecode(const QString& path)
{
    return Samples(
        RunProgram(QStringLiteral("sox"), {path, "-t", "raw", "-e", "signed", "-b", "16", "-L", "-"}));
}

QByteArray Heard(const QByteArray& played, int frameBytes, char silence)
{
    auto silent = [&](qsizetype at) {
        for (int i = 0; i < frameBytes; ++i) {
            if (played[at + i] != silence)
                return false;
        }
        return true;
    };
    qsizetype first = 0;
    while (first + frameBytes <= played.size() && silent(first))
        first += frameBytes;
    qsizetype end = played.size() - played.size() % frameBytes;
    while (end - frameBytes >= first && silent(end - frameBytes))
        end -= frameBytes;
    return played.mid(first, end - first);
}

QByteArray ReadAll(TACSInput& source, int chunk)
{
    QByteArray all;
    std::vector<char> buffer(static_cast<std::size_t>(chunk));
    source.BeginRead();
    for (;;) {
        const int count = source.FetchData(buffer.data(), chunk);
        if (count <= 0)
            break;
        all.append(buffer.data(), count);
    }
    source.EndRead();
    return all;
}

std::vector<qint16> Samples(const QByteArray& bytes)
{
    std::vector<qint16> samples(static_cast<std::size_t>(bytes.size() / 2));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = qFromLittleEndian<qint16>(bytes.constData() + 2 * i);
    return samples;
}

QByteArray Bytes(const std::vector<qint16>& samples)
{
    QByteArray bytes(static_cast<qsizetype>(samples.size() * 2), '\0');
    for (std::size_t i = 0; i < samples.size(); ++i)
        qToLittleEndian<qint16>(samples[i], bytes.data() + 2 * i);
    return bytes;
}

QByteArray Chunk(const char* id, const QByteArray& body, bool pad)
{
    QByteArray chunk(id, 4);
    char size[4];
    qToLittleEndian<quint32>(static_cast<quint32>(body.size()), size);
    chunk.append(size, 4).append(body);
    if (pad && body.size() % 2 == 1)
        chunk.append('\0');
    return chunk;
}

QByteArray FmtBody(int tag, int channels, int rate, int blockAlign, int bits, const QByteArray& extra)
{
    QByteArray body(16, '\0');
    qToLittleEndian<quint16>(static_cast<quint16>(tag), body.data());
    qToLittleEndian<quint16>(static_cast<quint16>(channels), body.data() + 2);
    qToLittleEndian<quint32>(static_cast<quint32>(rate), body.data() + 4);
    qToLittleEndian<quint32>(static_cast<quint32>(rate * blockAlign), body.data() + 8);
    qToLittleEndian<quint16>(static_cast<quint16>(blockAlign), body.data() + 12);
    qToLittleEndian<quint16>(static_cast<quint16>(bits), body.data() + 14);
    return body + extra;
}

QByteArray Riff(const QByteArray& chunks)
{
    return Chunk("RIFF", QByteArray("WAVE") + chunks, false);
}

QByteArray MakePcmWav(int channels, int rate, int bits, const QByteArray& data)
{
    return Riff(Chunk("fmt ", FmtBody(1, channels, rate, channels * bits / 8, bits, {}), true) +
                Chunk("data", data, true));
}

std::vector<qint16> TestSignal(qint64 frames, int channels, int rate)
{
    std::vector<qint16> samples(static_cast<std::size_t>(frames * channels));
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-300, 300);
    double phase[2] = {0, 0};
    for (qint64 f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        for (int c = 0; c < channels; ++c) {
            const double frequency = 200.0 + 3000.0 * t + 150.0 * c;
            phase[c] += 2 * M_PI * frequency / rate;
            const double value = 20000.0 * std::sin(phase[c]) + noise(random);
            samples[static_cast<std::size_t>(f * channels + c)] = static_cast<qint16>(std::lround(value));
        }
    }
    return samples;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

quint32 U32At(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

quint16 U16At(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}
