// The engine object behind the C interface of kestrix.h. It holds nothing:
// every method works only on its arguments and the files they name.
#pragma once

#include "kestrix.h"

struct cKestrix {
    int reserved = 0;
};
