// Names that the database file and its statements share.
#pragma once

#include "compat/win32.h"

// The account's database file.
inline constexpr WCHAR g_szDbFileName[] = WTEXT("CalData.db");

inline constexpr WCHAR g_szVersionTable[] = WTEXT("Version");
inline constexpr WCHAR g_szCalendarTable[] = WTEXT("Calendar");
inline constexpr WCHAR g_szEventTable[] = WTEXT("Event");
