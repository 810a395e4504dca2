#pragma once

#include "cd/image_writer.h"
#include "support/temp_home.h"

#include <QString>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

class QTimer;
class QWidget;

// A program folder of its own and no drive but the images a test names; every
// image named is forgotten at the end.
class TAppTest {
public:
    TAppTest();
    ~TAppTest();
    TAppTest(const TAppTest&) = delete;
    TAppTest& operator=(const TAppTest&) = delete;

    TTempHome Home;

    // Writes the demo disc in the program folder and makes it the only drive.
    QString UseDemoDisc();
    // Writes an image of synthesized tracks and makes it the only drive.
    QString UseImage(const QString& name, const TImageSpec& spec);
    // An image whose tracks start at the given sectors and whose data file is
    // sparse, so a disc of any length costs no disk space.
    QString UseSparseImage(const QString& name, const std::vector<qint64>& starts, qint64 leadOut);
};

// A WAV file of CD audio (44100 Hz, stereo, 16 bits) playing the test tune.
QString WriteCdWav(const QString& path, int seconds);

// Whether this machine has a real CD drive (which the no-drive tests cannot hide).
bool MachineHasCdDrive();

// Answers the next modal window: runs action on it once it is shown, from
// inside its own event loop, so a test can work a dialog that exec() waits on.
// The test fails when no modal window was shown by the time the object goes.
class TModalAnswer {
public:
    explicit TModalAnswer(std::function<void(QWidget*)> action);
    ~TModalAnswer();
    TModalAnswer(const TModalAnswer&) = delete;
    TModalAnswer& operator=(const TModalAnswer&) = delete;

    bool Answered() const;

private:
    std::unique_ptr<QTimer> Timer;
    bool Done = false;
};

// Readable QString values in test failures.
void PrintTo(const QString& text, std::ostream* out);
