#pragma once

#include <QByteArray>

#include <functional>

// Waiting for a player and telling what it played, for tests that play through
// SDL's disk driver.

// Runs the event loop until done() holds; false when milliseconds pass first.
bool WaitFor(const std::function<bool()>& done, int milliseconds = 30000);
// Runs the event loop for that long.
void Settle(int milliseconds);
// The 16-bit stereo frames that are not all zero: the device plays zeros while
// it waits or is paused, so only the music is compared.
QByteArray Music(const QByteArray& bytes);
