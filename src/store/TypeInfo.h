// The type information of the store's interfaces and class, from the type library.
#pragma once

#include "compat/win32.h"

// The locale the type library declares (lcid(1033) in Brellin.idl). It is
// registered under it, so it is loaded and unregistered under it too.
inline constexpr LCID g_lcidStoreTypeLib = 0x0409;

// The type information for an interface or the class, loaded once per process
// from the registered type library or, failing that, from the module's own
// resource. Where there is no type library (off Windows) the load error comes back
// and *ppInfo stays null.
HRESULT LoadStoreTypeInfo(REFGUID guid, ITypeInfo** ppInfo);
