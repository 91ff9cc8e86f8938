// Where an account's files live.
#pragma once

#include "compat/win32.h"

// The account data directory of account dwUIN: the host's root directory, a path
// separator, the account number written as a signed 32-bit decimal, and a path
// separator. When the host names no root directory the path is empty, so files are
// then opened by their bare names. Always returns TRUE.
BOOL GetUserDataDir(DWORD dwUIN, WString& strPath);
