#pragma once

namespace sentrel {

// The library's version number and its what-string.
extern const double SentrelVersionNumber;
extern const unsigned char SentrelVersionString[];

}  // namespace sentrel
