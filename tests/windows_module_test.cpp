// Brellin.dll as regsvr32 meets it: loaded with LoadLibrary and registered in, and
// removed from, the real registry.
#include <gtest/gtest.h>

#include <string>

#include "brellin/VxCalStore.h"
#include "store/TypeInfo.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* PFN_ENTRY_POINT)();

// The module, loaded for one test.
struct CLoadedModule {
    HMODULE hModule = LoadLibraryA(CALSTORE_MODULE_FILE);
    ~CLoadedModule()
    {
        if (hModule != nullptr) {
            FreeLibrary(hModule);
        }
    }
    HRESULT Call(const char* pszName) const
    {
        const auto pfn = reinterpret_cast<PFN_ENTRY_POINT>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
        return pfn != nullptr ? pfn() : E_NOTIMPL;
    }
};

bool KeyExists(const std::wstring& strKey)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, strKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(hKey);
    return true;
}

const wchar_t* const s_apszKeys[] = {
    L"Brellin.VxCalStoreData",
    L"Brellin.VxCalStoreData.1",
    L"CLSID\\{32BFB315-E3F6-4440-BAF1-4389487CB5E8}",
    L"AppID\\{FB112E41-1FD9-4F87-B320-DC9CF9282194}",
    L"AppID\\Brellin.DLL",
    L"TypeLib\\{FB112E41-1FD9-4F87-B320-DC9CF9282194}",
    L"Interface\\{A4DAFD63-4696-4E2E-A78E-D9BBDC69BD40}",
    L"Interface\\{80BF8A3C-562B-4904-9EE7-75A707F7D4A6}",
};

}  // namespace

// Registration writes every key and the type library under its own locale;
// unregistration removes them all, every time, and again is no error.
TEST(WindowsModule, RegistrationRoundTripsToAnEmptyRegistry)
{
    const CLoadedModule module;
    ASSERT_NE(module.hModule, nullptr);
    for (int nRound = 0; nRound < 2; ++nRound) {
        SCOPED_TRACE(nRound);
        ASSERT_EQ(S_OK, module.Call("DllRegisterServer"));
        for (const wchar_t* pszKey : s_apszKeys) {
            EXPECT_TRUE(KeyExists(pszKey)) << pszKey;
        }
        ITypeLib* pTypeLib = nullptr;
        EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_Brellin, 1, 0, g_lcidStoreTypeLib, &pTypeLib));
        if (pTypeLib != nullptr) {
            pTypeLib->Release();
        }
        ASSERT_EQ(S_OK, module.Call("DllUnregisterServer"));
        for (const wchar_t* pszKey : s_apszKeys) {
            EXPECT_FALSE(KeyExists(pszKey)) << pszKey;
        }
    }
    EXPECT_EQ(S_OK, module.Call("DllUnregisterServer"));
    EXPECT_TRUE(KeyExists(L"AppID")) << "the root keys stay";
    EXPECT_TRUE(KeyExists(L"CLSID"));
}
