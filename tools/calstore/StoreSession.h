// One run of the component as a calendar application drives it: create it by its
// ProgID (registering the module first when needed), start it with the host's
// kernel, let the host work, end the start-up batch, and stop it.
#pragma once

#include <string>

#include "HostObjects.h"
#include "brellin/VxCalStore.h"

// A failed call into the component, with what was being done.
struct CStoreError {
    std::string strWhat;
    HRESULT hr;
};

// Registers or unregisters the module that lies beside this program.
HRESULT RegisterModule(bool bRegister, std::string& strModulePath);

class CStoreSession {
public:
    CStoreSession(ULONG dwAccount, bool bClearOnStop);
    ~CStoreSession();
    CStoreSession(const CStoreSession&) = delete;
    CStoreSession& operator=(const CStoreSession&) = delete;

    // Creates the component and runs its start step; throws CStoreError.
    void Start();

    IVxCalStoreData* Data() const { return m_pData; }
    IVxCalStoreConfig* Config() const { return m_pConfig; }
    CCalendarKernel* Kernel() const { return m_pKernel; }

    // Commits the start-up batch, then stops the component and lets go of it.
    void Finish();

    // Leaves without committing anything written since the start: the open
    // transaction is dropped and the database keeps what it held before.
    [[noreturn]] static void AbandonAndExit(int nExitCode);

    // Throws CStoreError for a failed result.
    static void Check(HRESULT hr, const std::string& strWhat);

private:
    CCalendarKernel* m_pKernel;
    IVxCalStoreData* m_pData = nullptr;
    IVxCalStoreConfig* m_pConfig = nullptr;
    IExtendKernalSequence* m_pSequence = nullptr;
    bool m_bStarted = false;
};
