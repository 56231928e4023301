// Telling a rotating drive by its attribute names, for a drive whose type
// is only "Generic".
#pragma once

#include <string_view>

namespace sentrel::ata {

// True when a name contains seek, spin, head or fly, in any case (ICU's
// case folding, so "\u017Fpin" with a long s counts as well).
bool namesRotatingMedia(std::string_view name);

}  // namespace sentrel::ata
