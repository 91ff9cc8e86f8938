// Names that the database file, its statements and the log lines share.
#pragma once

#include "compat/win32.h"

// The account's database file.
inline constexpr WCHAR g_szDbFileName[] = WTEXT("CalData.db");

inline constexpr WCHAR g_szVersionTable[] = WTEXT("Version");
inline constexpr WCHAR g_szCalendarTable[] = WTEXT("Calendar");
inline constexpr WCHAR g_szEventTable[] = WTEXT("Event");

// The module name of the store's lines in the host's log.
inline constexpr WCHAR g_szLogModule[] = WTEXT("CalStore");
