// The one header that component code includes for the platform API: the real SDK
// on Windows, the compatibility subset elsewhere, and our UTF-16 helpers on both.
#pragma once

#include "compat/oleauto.h"
#include "compat/unknwn.h"
#include "compat/winbase.h"
#include "compat/winreg.h"
#include "compat/wintypes.h"
#include "compat/winuser.h"
#include "compat/wstr.h"
