#pragma once

#include "audio/acs_input.h"

#include <vector>

// The pattern the block converters share: gather one block from the input
// (ReadSize bytes, or what is left at its end), convert it into OutBuffer and
// hand it out in pieces of whatever size the caller asks for.
//
// Threads: BeginRead on the thread that starts the run, FetchData on the
// sink's worker, never at the same time; queries and setters on the window
// thread. A derived class reads its settings once, in SetUp.
class TBufferedConverter : public TACSConverter {
public:
    explicit TBufferedConverter(QObject* parent = nullptr);
    ~TBufferedConverter() override;

    // "Input not assigned" without an input; then the input's BeginRead and
    // SetUp. A failing SetUp ends the input's read again.
    void BeginRead() override;
    void EndRead() override;
    int FetchData(void* buffer, int bufferSize) override;

protected:
    // Sets ReadSize, FrameBytes, SizeValue and the buffers for the run. The
    // input has begun its read.
    virtual void SetUp(TACSInput& input) = 0;
    // Converts the first frames x FrameBytes bytes of InBuffer into OutBuffer
    // and returns the bytes produced; 0 is allowed (nothing due yet).
    virtual int ConvertBlock(int frames) = 0;
    // Releases what SetUp took.
    virtual void TearDown();

    int ReadSize = 0;   // bytes gathered per block, a whole number of frames
    int FrameBytes = 1; // bytes of one input frame
    std::vector<char> InBuffer;
    std::vector<char> OutBuffer;

private:
    // Gathers one block; the bytes read, 0 at the end of the input.
    int Gather();
    void UpdatePosition();

    bool InputEnded = false;
    qint64 Delivered = 0;
};
