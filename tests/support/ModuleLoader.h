// The module as a host loads it: by its file name, once, and kept, as COM keeps an
// in-process server; reached only through its exported entry points.
#pragma once

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "brellin/VxCalStore.h"

namespace moduletest {

typedef HRESULT(STDMETHODCALLTYPE* PFN_DLLGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDMETHODCALLTYPE* PFN_DLLNOARGS)();

struct CModule {
#ifdef _WIN32
    const HMODULE hModule = LoadLibraryA(CALSTORE_MODULE_FILE);
    void* Find(const char* pszName) const
    {
        return hModule != nullptr ? reinterpret_cast<void*>(GetProcAddress(hModule, pszName)) : nullptr;
    }
#else
    void* const hModule = ::dlopen(CALSTORE_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
    void* Find(const char* pszName) const { return hModule != nullptr ? ::dlsym(hModule, pszName) : nullptr; }
#endif
    const PFN_DLLNOARGS pfnCanUnloadNow = reinterpret_cast<PFN_DLLNOARGS>(Find("DllCanUnloadNow"));
    const PFN_DLLGETCLASSOBJECT pfnGetClassObject = reinterpret_cast<PFN_DLLGETCLASSOBJECT>(Find("DllGetClassObject"));
    const PFN_DLLNOARGS pfnRegisterServer = reinterpret_cast<PFN_DLLNOARGS>(Find("DllRegisterServer"));
    const PFN_DLLNOARGS pfnUnregisterServer = reinterpret_cast<PFN_DLLNOARGS>(Find("DllUnregisterServer"));
};

inline const CModule& Module()
{
    static const CModule s_module;
    return s_module;
}

inline HRESULT ModuleCanUnloadNow()
{
    return Module().pfnCanUnloadNow != nullptr ? Module().pfnCanUnloadNow() : E_UNEXPECTED;
}

// An object of the one class, made by the module's class factory.
inline HRESULT CreateStoreObject(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    IClassFactory* pFactory = nullptr;
    HRESULT hr = Module().pfnGetClassObject == nullptr
                     ? E_UNEXPECTED
                     : Module().pfnGetClassObject(CLSID_VxCalStoreData, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
    if (SUCCEEDED(hr)) {
        hr = pFactory->CreateInstance(pUnkOuter, riid, ppv);
        pFactory->Release();
    }
    return hr;
}

}  // namespace moduletest
