#pragma once

#include "cd/cd_text.h"

#include <cdio/cdio.h>

// The CD-Text libcdio reads from a disc (or from an image it opened): the
// first language block, its album and track titles and performers, and the
// genre by its text or, failing that, by its code.
TCDText CDTextOfCdio(CdIo_t* cdio);
