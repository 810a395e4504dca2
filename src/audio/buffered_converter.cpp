#include "buffered_converter.h"

#include "audio/acs_exception.h"
#include "core/helpers.h"

#include <algorithm>
#include <cstring>

TBufferedConverter::TBufferedConverter(QObject* parent) : TACSConverter(parent)
{
}

TBufferedConverter::~TBufferedConverter() = default;

void TBufferedConverter::BeginRead()
{
    TACSInput* input = RequireInput();
    input->BeginRead();
    try {
        SetUp(*input);
    } catch (...) {
        TearDown();
        input->EndRead();
        throw;
    }
    PositionValue = 0;
    Delivered = 0;
    BufStart = 1;
    BufEnd = 0;
    InputEnded = false;
    BusyValue = true;
}

void TBufferedConverter::EndRead()
{
    BusyValue = false;
    TearDown();
    if (TACSInput* input = Input())
        input->EndRead();
}

void TBufferedConverter::TearDown()
{
    std::vector<char>().swap(InBuffer);
    std::vector<char>().swap(OutBuffer);
}

int TBufferedConverter::Gather()
{
    int gathered = 0;
    while (gathered < ReadSize) {
        const int count = FetchFromInput(InBuffer.data() + gathered, ReadSize - gathered);
        if (count <= 0) {
            InputEnded = true;
            break;
        }
        gathered += count;
    }
    return gathered;
}

int TBufferedConverter::FetchData(void* buffer, int bufferSize)
{
    if (!Busy())
        throw EACSException(QStringLiteral("The Stream is not opened"));
    if (bufferSize <= 0)
        return 0;
    // A block that yields nothing (a short one, or one the rate converter
    // only takes into its history) is not the end while the input goes on.
    while (BufStart > BufEnd) {
        if (InputEnded)
            return 0;
        const int frames = Gather() / FrameBytes;
        if (frames == 0)
            return 0;
        BufStart = 1;
        BufEnd = ConvertBlock(frames);
    }
    const int count = std::min(bufferSize, BufEnd - BufStart + 1);
    std::memcpy(buffer, OutBuffer.data() + BufStart - 1, static_cast<std::size_t>(count));
    BufStart += count;
    Delivered += count;
    UpdatePosition();
    return count;
}

void TBufferedConverter::UpdatePosition()
{
    const TACSInput* input = Input();
    const qint64 inputSize = input ? input->Size() : -1;
    const qint64 size = Size();
    if (inputSize > 0 && size >= 0) {
        const double share = static_cast<double>(size) / static_cast<double>(inputSize);
        PositionValue = RoundHalfEven(share * static_cast<double>(input->Position()));
    } else {
        // Without sizes to scale by, the bytes handed out are the position.
        PositionValue = Delivered;
    }
}
