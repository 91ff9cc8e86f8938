// The store client: one run of the component as a calendar application drives it
// (create it by its ProgID, registering the module first when needed; start it with
// the host's kernel; let the host work; end the start-up batch; stop it), and typed
// calls for what the commands ask of it.
#pragma once

#include <string>
#include <vector>

#include "HostObjects.h"
#include "brellin/VxCalStore.h"

// A failed call into the component: what was being done, its result, and the
// reason the component gave with it (empty when it gave none).
struct CStoreError {
    std::string strWhat;
    HRESULT hr;
    std::string strReason;
};

// The reason the component left with a failure on this thread, taken; empty when none.
std::string TakeErrorReason();

// Registers or unregisters the module that lies beside this program.
HRESULT RegisterModule(bool bRegister, std::string& strModulePath);

// The account's data directory, with a trailing slash.
std::string AccountDirectory(ULONG dwAccount);

class CStoreSession {
public:
    // bWrites: the command writes to the database, and must not unless it holds the
    // whole batch (else a failure half way would leave half of it committed).
    CStoreSession(ULONG dwAccount, bool bClearOnStop, bool bWrites);
    ~CStoreSession();
    CStoreSession(const CStoreSession&) = delete;
    CStoreSession& operator=(const CStoreSession&) = delete;

    // Creates the component and runs its start step, once; throws CStoreError. The
    // accessors start it on first use, so that a command can do its slow work first.
    void Start();
    IVxCalStoreData* Data();
    IVxCalStoreConfig* Config();
    bool Started() const { return m_bStarted; }

    // Backups the component made of a damaged or old database while starting.
    const std::vector<std::string>& NewBackups() const { return m_newBackups; }
    std::string DatabasePath() const { return m_strDir + "CalData.db"; }
    std::string SettingsPath() const { return m_strDir + "CalendarConfig.ini"; }

    // Commits the batch, then stops the component and lets go of it.
    void Finish();

    // Leaves without committing anything written since the start: the open
    // transaction is dropped and the database keeps what it held before.
    [[noreturn]] static void AbandonAndExit(int nExitCode);

    // Throws CStoreError, with the component's reason, for a failed result.
    static void Check(HRESULT hr, const std::string& strWhat);

private:
    CCalendarKernel* m_pKernel;
    IVxCalStoreData* m_pData = nullptr;
    IVxCalStoreConfig* m_pConfig = nullptr;
    IExtendKernalSequence* m_pSequence = nullptr;
    bool m_bWrites;
    bool m_bStarted = false;
    std::string m_strDir;
    std::vector<std::string> m_newBackups;
};

// Releases a host object made here once the call that took it is over.
template <typename T>
class CHeld {
public:
    explicit CHeld(T* p) : m_p(p) { m_p->AddRef(); }
    ~CHeld() { m_p->Release(); }
    CHeld(const CHeld&) = delete;
    CHeld& operator=(const CHeld&) = delete;
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }

private:
    T* m_p;
};

// Typed calls; each throws CStoreError. Lists come sorted: calendars by number,
// events by start, then number.
std::vector<CCalendarData> ListCalendars(CStoreSession& session);
bool CalendarExists(CStoreSession& session, ULONG dwCalID);
std::vector<CEventData> ListEvents(CStoreSession& session, ULONG dwCalID);
std::vector<CEventData> EventsBetween(CStoreSession& session, int64_t llBegin, int64_t llEnd,
                                      const std::vector<ULONG>& calendars);
// The one event with that number; the enumeration stops there and keeps nothing else.
bool FindEvent(CStoreSession& session, ULONG dwCalID, ULONG dwEvtID, CEventData& found);
void AddCalendar(CStoreSession& session, ULONG dwCalID, const WString& strSubject, const WString& strDetail);
// Inserts the event, or updates the one with its numbers (the external id stays).
void SaveEvent(CStoreSession& session, const CEventData& data, bool bUpdate, const std::string& strWhat);
bool ExternalIdExists(CStoreSession& session, const WString& strID);
