// The in-process server module: its lock count, its one class and the class's
// cached factory, and registration.
#pragma once

#include "compat/win32.h"

class CBrellinModule {
public:
    // Live objects and LockServer(TRUE) calls hold the module.
    LONG Lock();
    LONG Unlock();
    LONG LockCount() const;

    bool Initialized() const { return m_bInitialized; }

    // The class factory of CLSID, asked for riid; CLASS_E_CLASSNOTAVAILABLE for
    // any other class.
    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

    HRESULT RegisterServer();
    HRESULT UnregisterServer();

    // The full path of the module file.
    WString ModulePath() const;

    static CBrellinModule& Instance();

private:
    CBrellinModule();

    volatile LONG m_nLockCount;
    bool m_bInitialized;
};
