#include "platform/LibrarySearch.h"

namespace argb::platform {

// The stand-in loads the driver by its full path only, and the dynamic loader has no current
// directory or program folder in its search: there is nothing to take out.
LibrarySearchSetting restrictProcessLibrarySearch() {
  return {};
}

}  // namespace argb::platform
