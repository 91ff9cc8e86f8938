// The module object, its class factory and the exported entry points.
#include "module/BrellinModule.h"

#include "brellin/VxCalStore.h"
#include "store/VxCalStoreData.h"

#ifdef _WIN32
#define BRELLIN_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#include <climits>
#include <cstdlib>
#define BRELLIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

void ObjectLockHook(BOOL bLock)
{
    if (bLock) {
        CBrellinModule::Instance().Lock();
    } else {
        CBrellinModule::Instance().Unlock();
    }
}

// The class factory of CVxCalStoreData: made once, kept for the life of the
// module. Its own references do not hold the module; LockServer does.
class CVxCalStoreDataFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override
    {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppvObject = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRef)); }

    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_nRef)); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override
    {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr && riid != IID_IUnknown) {
            return CLASS_E_NOAGGREGATION;
        }
        return CVxCalStoreData::CreateInstance(pUnkOuter, riid, ppvObject);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override
    {
        if (fLock) {
            CBrellinModule::Instance().Lock();
        } else {
            CBrellinModule::Instance().Unlock();
        }
        return S_OK;
    }

private:
    volatile LONG m_nRef = 1;
};

CVxCalStoreDataFactory& Factory()
{
    static CVxCalStoreDataFactory s_factory;
    return s_factory;
}

}  // namespace

CBrellinModule::CBrellinModule() : m_nLockCount(0), m_bInitialized(true)
{
    CVxCalStoreData::SetObjectLockHook(&ObjectLockHook);
}

CBrellinModule& CBrellinModule::Instance()
{
    static CBrellinModule s_module;
    return s_module;
}

LONG CBrellinModule::Lock()
{
    return InterlockedIncrement(&m_nLockCount);
}

LONG CBrellinModule::Unlock()
{
    return InterlockedDecrement(&m_nLockCount);
}

LONG CBrellinModule::LockCount() const
{
    return m_nLockCount;
}

HRESULT CBrellinModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (rclsid != CLSID_VxCalStoreData) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return Factory().QueryInterface(riid, ppv);
}

WString CBrellinModule::ModulePath() const
{
#ifdef _WIN32
    HMODULE hModule = nullptr;
    WCHAR szPath[MAX_PATH] = {};
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ObjectLockHook), &hModule);
    GetModuleFileNameW(hModule, szPath, MAX_PATH);
    return WString(szPath);
#else
    Dl_info info{};
    WString strPath;
    if (::dladdr(reinterpret_cast<void*>(&ObjectLockHook), &info) != 0 && info.dli_fname != nullptr) {
        char szResolved[PATH_MAX];
        const char* pszPath = ::realpath(info.dli_fname, szResolved) != nullptr ? szResolved : info.dli_fname;
        WStrFromUtf8(pszPath, strPath);
    }
    return strPath;
#endif
}

// ---------------------------------------------------------------------------
// Entry points

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*lpReserved*/)
{
    if (dwReason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(hInstance);
        return CBrellinModule::Instance().Initialized() ? TRUE : FALSE;
    }
    return TRUE;
}
#else
// The module object comes up when the library is loaded, as on Windows.
__attribute__((constructor)) static void InitializeModuleOnLoad()
{
    CBrellinModule::Instance();
}
#endif

BRELLIN_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow()
{
    return CBrellinModule::Instance().LockCount() == 0 ? S_OK : S_FALSE;
}

BRELLIN_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return CBrellinModule::Instance().GetClassObject(rclsid, riid, ppv);
}

BRELLIN_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer()
{
    return CBrellinModule::Instance().RegisterServer();
}

BRELLIN_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer()
{
    return CBrellinModule::Instance().UnregisterServer();
}
