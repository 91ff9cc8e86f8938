// The root directory, shared by the logger and the root directory call.
#pragma once

#include "compat/win32.h"

namespace host {

// The configured root directory without a trailing separator; false when none can
// be named. Creates nothing.
bool ResolveRootDir(WString& strRoot);

}  // namespace host
