#include "sentrel/version.h"

namespace sentrel {

const double SentrelVersionNumber = 1.0;
const unsigned char SentrelVersionString[] = "@(#)PROGRAM:Sentrel  PROJECT:Vantrel-1\n";

}  // namespace sentrel
