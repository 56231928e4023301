#pragma once

#include "sentrel/export.h"

namespace sentrel {

// The library's version number and its what-string.
SENTREL_API extern const double SentrelVersionNumber;
SENTREL_API extern const unsigned char SentrelVersionString[];

}  // namespace sentrel
