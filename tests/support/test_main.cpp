#include <QApplication>
#include <gtest/gtest.h>

#include "sanitizer_defaults.inc"

// Every test program runs inside a QApplication on the offscreen platform, so
// widget tests and event-loop tests need no display.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Sound goes to files: no test needs (or may use) a sound card.
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "disk");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
