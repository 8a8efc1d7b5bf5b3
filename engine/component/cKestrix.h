// The engine object behind the C interface of kestrix.h. It holds only its
// settings; every method works on its arguments and the files they name.
#pragma once

#include "engine/operations/EngineSettings.h"
#include "kestrix.h"

struct cKestrix {
    kx::EngineSettings settings;
};
