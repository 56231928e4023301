// The default platform of a build that has no backend for its system.
#include "sentrel/platform.h"

namespace sentrel::platform {

Platform& defaultPlatform() {
  return nullPlatform();
}

}  // namespace sentrel::platform
