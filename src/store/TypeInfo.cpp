#include "store/TypeInfo.h"

#include "brellin/VxCalStore.h"

#ifdef _WIN32

#include <mutex>

namespace {

std::once_flag s_loadOnce;
ITypeLib* s_pTypeLib = nullptr;  // kept for the life of the module
HRESULT s_hrLoad = E_FAIL;

void LoadTypeLibrary()
{
    s_hrLoad = LoadRegTypeLib(LIBID_Brellin, 1, 0, g_lcidStoreTypeLib, &s_pTypeLib);
    if (FAILED(s_hrLoad)) {
        HMODULE hModule = nullptr;
        WCHAR szPath[MAX_PATH] = {};
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCWSTR>(&LoadTypeLibrary), &hModule) &&
            GetModuleFileNameW(hModule, szPath, MAX_PATH) != 0) {
            s_hrLoad = LoadTypeLib(szPath, &s_pTypeLib);
        }
    }
}

}  // namespace

HRESULT LoadStoreTypeInfo(REFGUID guid, ITypeInfo** ppInfo)
{
    if (ppInfo == nullptr) {
        return E_POINTER;
    }
    *ppInfo = nullptr;
    std::call_once(s_loadOnce, LoadTypeLibrary);
    if (FAILED(s_hrLoad)) {
        return s_hrLoad;
    }
    return s_pTypeLib->GetTypeInfoOfGuid(guid, ppInfo);
}

#else

HRESULT LoadStoreTypeInfo(REFGUID /*guid*/, ITypeInfo** ppInfo)
{
    if (ppInfo == nullptr) {
        return E_POINTER;
    }
    // No type library is built off Windows; late binding works from the method tables.
    *ppInfo = nullptr;
    return TYPE_E_CANTLOADLIBRARY;
}

#endif
