#pragma once

#include <QString>

// Whether a windowing system can be reached, checked before QApplication starts:
// without a display Qt aborts with a core dump instead of a message. Returns an
// empty text when a display is reachable (or Qt was told to use a platform of its
// own, such as offscreen), else the reason in one sentence.
QString DisplayProblem();
