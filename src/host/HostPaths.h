// Path helpers shared by the logger and the root directory call.
#pragma once

#include "compat/win32.h"

namespace host {

// The configured root directory without a trailing separator; false when none can
// be named. Creates nothing.
bool ResolveRootDir(WString& strRoot);

// Creates every missing level of a directory path.
void CreateDirectoryTree(const WString& strPath);

}  // namespace host
