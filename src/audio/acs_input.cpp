#include "acs_input.h"

#include "audio/acs_exception.h"
#include "core/helpers.h"

#include <QIODevice>

#include <algorithm>

namespace {

// Guards every component's list of users and every link's target. Held only
// for bookkeeping, never while a sink is waited for.
std::mutex& LinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

// One counted OpenSource/CloseSource pair around a query.
template <typename TSource> class TOpenedSource {
public:
    explicit TOpenedSource(TSource& source, void (TSource::*open)(), void (TSource::*close)())
        : Source(source), Close(close)
    {
        (Source.*open)();
    }
    ~TOpenedSource() { (Source.*Close)(); }

private:
    TSource& Source;
    void (TSource::*Close)();
};

} // namespace

TACSInputLink::TACSInputLink(TACSInputUser* owner) : Owner(owner)
{
}

TACSInputLink::~TACSInputLink()
{
    Exchange(nullptr);
}

TACSInput* TACSInputLink::Exchange(TACSInput* input)
{
    std::lock_guard users(LinkMutex());
    TACSInput* old = Current.load();
    if (old == input)
        return old;
    {
        std::lock_guard read(InputLock);
        Current = input;
    }
    if (old)
        std::erase(old->Users, this);
    if (input)
        input->Users.push_back(this);
    return old;
}

TACSInput::TACSInput(QObject* parent) : QObject(parent)
{
}

TACSInput::~TACSInput()
{
    // A concrete component detaches first (while its members exist); this only
    // keeps the links from dangling if one forgot.
    Q_ASSERT_X(Users.empty(), "TACSInput", "a concrete source must call DetachUsers() in its destructor");
    std::lock_guard users(LinkMutex());
    for (TACSInputLink* link : Users) {
        std::lock_guard read(link->InputLock);
        link->Current = nullptr;
    }
    Users.clear();
}

int TACSInput::GetTotalTime()
{
    return 0;
}

void TACSInput::ResetRead()
{
    try {
        EndRead();
    } catch (const std::exception&) {
        // Putting the source back must not fail; the read is over either way.
    }
    BusyValue = false;
}

void TACSInput::NotifyUsersInputVanishing()
{
    std::vector<TACSInputLink*> users;
    {
        std::lock_guard lock(LinkMutex());
        users = Users;
    }
    for (TACSInputLink* link : users)
        link->Owner->InputVanishing();
}

void TACSInput::DetachUsers()
{
    NotifyUsersInputVanishing();
    std::lock_guard lock(LinkMutex());
    for (TACSInputLink* link : Users) {
        std::lock_guard read(link->InputLock);
        link->Current = nullptr;
    }
    Users.clear();
}

TACSStreamedInput::TACSStreamedInput(QObject* parent) : TACSInput(parent)
{
}

TACSStreamedInput::~TACSStreamedInput() = default;

void TACSStreamedInput::SetStream(QIODevice* stream)
{
    ExternalStreamDevice = stream;
}

TACSFileIn::TACSFileIn(QObject* parent) : TACSStreamedInput(parent)
{
}

TACSFileIn::~TACSFileIn() = default;

QString TACSFileIn::FileName() const
{
    return FileNameValue;
}

void TACSFileIn::SetFileName(const QString& fileName)
{
    std::lock_guard lock(SourceLock);
    FileNameValue = fileName;
}

bool TACSFileIn::IsValid()
{
    std::lock_guard lock(SourceLock);
    if (!ExternalStream() && FileNameValue.isEmpty())
        return false;
    TOpenedSource open(*this, &TACSFileIn::OpenSource, &TACSFileIn::CloseSource);
    return Valid;
}

int TACSFileIn::GetBitsPerSample()
{
    std::lock_guard lock(SourceLock);
    TOpenedSource open(*this, &TACSFileIn::OpenSource, &TACSFileIn::CloseSource);
    return StoredBitsPerSample;
}

int TACSFileIn::GetChannels()
{
    std::lock_guard lock(SourceLock);
    TOpenedSource open(*this, &TACSFileIn::OpenSource, &TACSFileIn::CloseSource);
    return StoredChannels;
}

int TACSFileIn::GetSampleRate()
{
    std::lock_guard lock(SourceLock);
    TOpenedSource open(*this, &TACSFileIn::OpenSource, &TACSFileIn::CloseSource);
    return StoredSampleRate;
}

qint64 TACSFileIn::GetTotalSamples()
{
    std::lock_guard lock(SourceLock);
    TOpenedSource open(*this, &TACSFileIn::OpenSource, &TACSFileIn::CloseSource);
    return TotalSamples;
}

int TACSFileIn::GetTotalTime()
{
    std::lock_guard lock(SourceLock);
    TOpenedSource open(*this, &TACSFileIn::OpenSource, &TACSFileIn::CloseSource);
    const qint64 bytesPerSecond =
        static_cast<qint64>(StoredSampleRate) * StoredChannels * (StoredBitsPerSample / 8);
    if (bytesPerSecond == 0)
        return 0;
    return static_cast<int>(RoundHalfEven(static_cast<double>(Size()) / static_cast<double>(bytesPerSecond)));
}

void TACSFileIn::BeginRead()
{
    std::lock_guard lock(SourceLock);
    if (Busy())
        throw EACSException(QStringLiteral("The component is buisy"));
    if (!ExternalStream() && FileNameValue.isEmpty())
        throw EACSException(QStringLiteral("The file name is not assigned"));
    OpenSource();
    if (!Valid) {
        const QString reason =
            InvalidReason.isEmpty()
                ? QStringLiteral("The file \"%1\" is not in a format that can be read.").arg(FileNameValue)
                : InvalidReason;
        CloseSource();
        throw EACSException(reason);
    }
    const qint64 frameBytes = static_cast<qint64>(StoredBitsPerSample / 8) * StoredChannels;
    const qint64 start = std::clamp<qint64>(StartSampleValue, 0, TotalSamples);
    if (start != 0)
        SeekSample(start);
    if (StartSampleValue != 0 || EndSampleValue != -1) {
        // An end outside the file is taken as the file's end, so Size stays true.
        const qint64 end =
            EndSampleValue < 0 ? TotalSamples : std::clamp<qint64>(EndSampleValue, start, TotalSamples);
        SizeValue = (end - start) * frameBytes;
    }
    BusyValue = true;
    BufStart = 1;
    BufEnd = 0;
    PositionValue = 0;
}

void TACSFileIn::EndRead()
{
    std::lock_guard lock(SourceLock);
    CloseSource();
    BusyValue = false;
}

void TACSFileIn::ResetRead()
{
    std::lock_guard lock(SourceLock);
    TACSInput::ResetRead();
    // Whatever still holds the file open is over as well.
    while (OpenCount > 0)
        CloseSource();
}

TACSConverter::TACSConverter(QObject* parent) : TACSInput(parent)
{
}

TACSConverter::~TACSConverter() = default;

void TACSConverter::AssignInput(TACSInput* input)
{
    if (input == this || input == Input())
        return;
    if (!Busy()) {
        InputLink.Exchange(input);
        return;
    }
    if (input)
        input->BeginRead();
    TACSInput* old = InputLink.Exchange(input);
    if (old)
        old->EndRead();
}

TACSInput* TACSConverter::RequireInput() const
{
    TACSInput* input = InputLink.Get();
    if (!input)
        throw EACSException(QStringLiteral("Input not assigned"));
    return input;
}

int TACSConverter::FetchFromInput(void* buffer, int bufferSize)
{
    std::lock_guard read(InputLink.InputLock);
    return RequireInput()->FetchData(buffer, bufferSize);
}

void TACSConverter::InputVanishing()
{
    NotifyUsersInputVanishing();
}
