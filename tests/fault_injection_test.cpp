// Every file call a scenario makes, failed in turn (once, or from then on), and the
// file examined as the next start finds it: nothing acknowledged (S_OK for the write
// and, in a batch, for its end) is missing, a batch whose end failed is all or
// nothing, the file passes integrity_check, a damaged or old file survives as itself
// or as a complete backup, and a healthy file is never moved to a backup.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "DbState.h"
#include "FaultVfs.h"
#include "StoreDriver.h"
#include "TestSupport.h"
#include "media/VxCalStoreMedia.h"

using namespace testing_support;
using faultvfs::EFault;
namespace fs = std::filesystem;

namespace {

const ULONG s_dwAccount = 123;
const HRESULT s_hrBatchOpen = HRESULT(0x8000000A);  // a batch not ended yet (E_PENDING)

std::string EvtKey(LONG lCalID, LONG lEvtID) { return "E" + std::to_string(lCalID) + "." + std::to_string(lEvtID); }

// The store as a host drives it, with its answers to each write and batch end.
class CRecordedStore {
public:
    void Start()
    {
        m_pStore->Start();
        OpenBatch();  // the start-up batch
    }
    void EndStartupBatch() { CloseBatch(m_pStore->EndStartupBatch()); }
    void BeginBatch()
    {
        if (m_pStore->SetBatchMode(true) == S_OK) {
            OpenBatch();
        }
    }
    void EndBatch() { CloseBatch(m_pStore->SetBatchMode(false)); }
    void Stop() { CloseBatch(m_pStore->Stop()); }
    void Destroy() { m_pStore.reset(); }  // commits a batch still open
    void AddCalendar(LONG lCalID) { Write(m_pStore->AddCalendar(lCalID), {{"C" + std::to_string(lCalID), true}}); }
    void AddEvent(LONG lCalID, LONG lEvtID)
    {
        Write(m_pStore->AddEvent(lCalID, lEvtID), {{EvtKey(lCalID, lEvtID), true}});
    }
    void DelAllEventofCalendar(LONG lCalID, int nEvents)
    {
        Effects effects;
        for (LONG lEvtID = 1; lEvtID <= nEvents; ++lEvtID) {
            effects.emplace_back(EvtKey(lCalID, lEvtID), false);
        }
        Write(m_pStore->DelAllEventofCalendar(lCalID), effects);
    }
    void DelCalendar(LONG lCalID) { Write(m_pStore->DelCalendar(lCalID), {{"C" + std::to_string(lCalID), false}}); }

    // What is stored against what was acknowledged on top of the baseline.
    void Check(const std::set<std::string>& baseline, const std::set<std::string>& stored,
               std::vector<std::string>& problems) const
    {
        // 1: must be stored, 0: must not be, -1: either (last write not acknowledged).
        std::map<std::string, int> want;
        for (const std::string& strKey : stored) {
            want[strKey] = 0;
        }
        for (const std::string& strKey : baseline) {
            want[strKey] = 1;
        }
        std::map<int, std::set<bool>> landed;  // per batch that did not end well: whether each change landed
        for (const CWrite& w : m_writes) {
            const bool bBatchFailed = w.nBatch >= 0 && m_batches[size_t(w.nBatch)] != S_OK;
            for (const auto& [strKey, bPresent] : w.effects) {
                want[strKey] = w.hr == S_OK && !bBatchFailed ? int(bPresent) : -1;
                if (bBatchFailed && w.hr == S_OK && bPresent != (baseline.count(strKey) != 0)) {
                    landed[w.nBatch].insert((stored.count(strKey) != 0) == bPresent);
                }
            }
        }
        for (const auto& [strKey, nWant] : want) {
            if (nWant >= 0 && (stored.count(strKey) != 0) != (nWant == 1)) {
                problems.push_back(strKey + (nWant == 1 ? " acknowledged but missing" : " deleted but back"));
            }
        }
        for (const auto& batch : landed) {
            if (batch.second.size() > 1) {
                problems.push_back("a failed batch landed in part");
            }
        }
    }

private:
    using Effects = std::vector<std::pair<std::string, bool>>;  // key, whether the write leaves it stored
    struct CWrite {
        Effects effects;
        HRESULT hr;
        int nBatch;  // -1: outside batch mode
    };
    void Write(HRESULT hr, Effects effects) { m_writes.push_back({std::move(effects), hr, m_nOpenBatch}); }
    void OpenBatch()
    {
        m_batches.push_back(s_hrBatchOpen);
        m_nOpenBatch = int(m_batches.size()) - 1;
    }
    void CloseBatch(HRESULT hr)
    {
        if (m_nOpenBatch >= 0) {
            m_batches[size_t(m_nOpenBatch)] = hr;
            m_nOpenBatch = -1;
        }
    }

    std::unique_ptr<CStoreDriver> m_pStore{new CStoreDriver(s_dwAccount)};
    std::vector<CWrite> m_writes;
    std::vector<HRESULT> m_batches;  // s_hrBatchOpen until the batch ends
    int m_nOpenBatch = -1;
};

enum class EFile {  // what a scenario starts from
    New,       // no file: the first start
    Healthy,   // current tables with calendars 1 (5 events) and 2 (10 events); it must stay where it is
    Precious,  // damaged or old: it may be replaced, but only with a complete backup beside it
};

struct CScenario {  // started, acted on in and after the start-up batch, stopped
    const char* pszName;
    EFile eFile;
    std::function<void(const std::string& strDbPath)> prepare;  // adjusts the healthy file (Healthy, Precious)
    std::function<void(CRecordedStore& store)> inStartup, afterStartup;
};

void PrintTo(const CScenario& scenario, std::ostream* pOut) { *pOut << scenario.pszName; }  // not its bytes

void Sql(const std::string& strDbPath, const std::string& strSql) { EXPECT_EQ("", RunSqliteShell(strDbPath, strSql)); }

void AddOne(CRecordedStore& store) { store.AddCalendar(5); }

const CScenario s_scenarios[] = {
    {"FirstStart", EFile::New, nullptr,
     [](CRecordedStore& store) {
         store.AddCalendar(1);
         store.AddEvent(1, 1);
     },
     nullptr},
    {"StartUpBurst", EFile::Healthy, nullptr,
     [](CRecordedStore& store) {
         store.AddCalendar(3);
         for (LONG lEvtID = 1; lEvtID <= 40; ++lEvtID) {
             store.AddEvent(3, lEvtID);
         }
     },
     nullptr},
    {"SingleWrite", EFile::Healthy, nullptr, nullptr, [](CRecordedStore& store) { store.AddEvent(1, 6); }},
    {"CalendarDelete", EFile::Healthy, nullptr, nullptr,
     [](CRecordedStore& store) {
         store.BeginBatch();
         store.DelAllEventofCalendar(2, 10);
         store.DelCalendar(2);
         store.EndBatch();
     }},
    {"DamagedFileRebuild", EFile::Precious, [](const std::string& strDb) { Sql(strDb, "drop table Event;"); }, AddOne,
     nullptr},
    {"NotADatabase", EFile::Precious,
     [](const std::string& strDb) { ASSERT_TRUE(WriteFile(strDb, std::string(7200, 'x'))); }, AddOne, nullptr},
    {"VersionUpgrade", EFile::Precious,
     [](const std::string& strDb) {
         fs::remove(strDb);
         Sql(strDb,
             "create table Version (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int);"
             "insert into Version values(1, 1, 0, 0);"
             "create table Calendar (UIN int, CalID int, subject text);"
             "create table Event (CalID int, EvtID int, subject text);"
             "insert into Calendar values(123, 1, 'old'); insert into Event values(1, 1, 'old event');");
     },
     AddOne, nullptr},
    // Current tables whose Version row is gone: the data is kept and the row written.
    {"VersionRowLost", EFile::Healthy, [](const std::string& strDb) { Sql(strDb, "delete from Version;"); }, AddOne,
     nullptr},
};

struct CFaultMode {
    EFault eFault;
    bool bPersistent;
};
const CFaultMode s_modes[] = {{EFault::IoError, false}, {EFault::IoError, true}, {EFault::DiskFull, false},
                               {EFault::DiskFull, true}, {EFault::Busy, false}};

std::string Where(const CFaultMode& mode, long long n)
{
    return std::string(faultvfs::FaultName(mode.eFault)) + (mode.bPersistent ? " from " : " at ") + std::to_string(n);
}

class FaultInjectionTest : public ::testing::TestWithParam<CScenario> {
protected:
    FaultInjectionTest() { CVxCalStoreMedia::SetTraceHook(nullptr, nullptr); }

    // The healthy file the scenarios begin from, made by the store itself.
    void MakeTemplate()
    {
        fs::create_directories(m_strAccountDir);
        {
            CRecordedStore store;
            store.Start();
            for (LONG lCalID : {1, 2}) {
                store.AddCalendar(lCalID);
                for (LONG lEvtID = 1; lEvtID <= (lCalID == 1 ? 5 : 10); ++lEvtID) {
                    store.AddEvent(lCalID, lEvtID);
                }
            }
            store.EndStartupBatch();
            store.Stop();
        }
        if (GetParam().prepare) {
            GetParam().prepare(m_strDbPath);
        }
        fs::copy_file(m_strDbPath, m_strTemplate, fs::copy_options::overwrite_existing);
        m_strOriginal = dbstate::FileBytes(m_strTemplate);
        if (GetParam().eFile == EFile::Healthy) {
            m_baseline = dbstate::ReadDbState(m_strTemplate).keys;
            ASSERT_EQ(17u, m_baseline.size());
        }
    }

    // One run with the nth call failing (0: none), examined as the next start finds
    // the file and as that start leaves it; returns the calls counted.
    long long RunOnce(const CFaultMode& mode, long long nFailAt)
    {
        fs::remove_all(m_strAccountDir);
        if (GetParam().eFile != EFile::New) {
            fs::create_directories(m_strAccountDir);
            fs::copy_file(m_strTemplate, m_strDbPath);
        }
        m_vfs.Arm(mode.eFault, nFailAt, mode.bPersistent);
        CRecordedStore store;
        store.Start();
        if (GetParam().inStartup) {
            GetParam().inStartup(store);
        }
        store.EndStartupBatch();
        if (GetParam().afterStartup) {
            GetParam().afterStartup(store);
        }
        store.Stop();
        store.Destroy();
        const long long nCalls = m_vfs.Calls();
        m_vfs.Disarm();
        Examine(store, Where(mode, nFailAt));
        return nCalls;
    }

    void Examine(const CRecordedStore& store, const std::string& strWhere)
    {
        const EFile eFile = GetParam().eFile;
        const dbstate::CDbState before = dbstate::ReadDbState(m_strDbPath);
        const std::vector<std::string> backups = dbstate::BackupNames(m_strAccountDir);
        std::vector<std::string> problems;
        if (eFile == EFile::New && !before.Blank() && !(before.Current() && before.bHasVersionRow)) {
            problems.push_back("the first start left a partial file: " + before.Describe());
        }
        if (eFile != EFile::Precious && !backups.empty()) {
            problems.push_back("a healthy file was moved to a backup");
        }
        bool bKept = eFile != EFile::Precious || dbstate::FileBytes(m_strDbPath) == m_strOriginal;
        for (const std::string& strName : backups) {
            bKept = bKept || dbstate::FileBytes(m_strAccountDir + "/" + strName) == m_strOriginal;
        }
        if (!bKept) {
            problems.push_back("the damaged or old file was replaced without a complete backup");
        }
        if (before.bReadable && before.strIntegrity != "ok") {
            problems.push_back("integrity_check: " + before.strIntegrity);
        }
        if (CVxCalStoreMedia().Open(s_dwAccount, WTEXT("CalData.db"), FALSE) != S_OK) {
            problems.push_back("the next start cannot open the file: " + before.Describe());
        }
        const dbstate::CDbState after = dbstate::ReadDbState(m_strDbPath);
        if (before.Current() && dbstate::BackupNames(m_strAccountDir).size() != backups.size()) {
            problems.push_back("the next start took a healthy file for damaged");
        }
        if (!after.Current() || after.strIntegrity != "ok" || after.nVersion != 2 || after.nDuplicateKeys != 0) {
            problems.push_back("after the next start: " + after.Describe());
        }
        store.Check(m_baseline, after.keys, problems);
        for (const std::string& str : problems) {
            if (m_nProblems++ < 10) {
                m_strProblems += "\n  " + str + " (" + strWhere + ")";
            }
        }
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    const std::string m_strAccountDir = m_dir.Join(std::to_string(s_dwAccount));
    const std::string m_strDbPath = m_strAccountDir + "/CalData.db";
    const std::string m_strTemplate = m_dir.Join("template.db");
    std::string m_strOriginal;
    std::set<std::string> m_baseline;
    faultvfs::CFaultVfs m_vfs;
    long long m_nProblems = 0;
    std::string m_strProblems;  // the first few
};

TEST_P(FaultInjectionTest, EveryFailedCallKeepsWhatWasAcknowledged)
{
    MakeTemplate();
    long long nPoints = 0;
    for (const CFaultMode& mode : s_modes) {
        const long long nCalls = RunOnce(mode, 0);
        ASSERT_GT(nCalls, 0) << faultvfs::FaultName(mode.eFault) << ": no call to fail";
        for (long long n = 1; n <= nCalls; ++n) {
            RunOnce(mode, n);
        }
        nPoints += nCalls;
    }
    std::printf("fault injection: %s: %lld points\n", GetParam().pszName, nPoints);
    EXPECT_EQ(0, m_nProblems) << "problems:" << m_strProblems;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultInjectionTest, ::testing::ValuesIn(s_scenarios),
                         [](const ::testing::TestParamInfo<CScenario>& p) { return std::string(p.param.pszName); });

// The media alone, every call of a batch's commit failed in turn: a failed commit keeps
// the batch whole or ends it all or nothing, and once it ended the media writes at once.
TEST(FaultInjectionMediaTest, ACommitThatFailsNeverLeavesTheBatchOpen)
{
    CTempDir dir;
    CScopedRoot root(dir.Path());
    const std::string strDb = dir.Join("123/CalData.db");
    faultvfs::CFaultVfs vfs;
    int nEnded = 0;
    for (const CFaultMode& mode : s_modes) {
        for (long long n = 0, nCalls = 0; n <= nCalls; ++n) {
            SCOPED_TRACE(Where(mode, n));
            RemoveTree(dir.Join("123"));
            MakeDirs(dir.Join("123"));
            CVxCalStoreMedia media;
            ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
            ASSERT_EQ(S_OK, media.SetBatchMode(TRUE));
            tagCalendarRecord rec{};
            for (rec.dwCalID = 1; rec.dwCalID <= 2; ++rec.dwCalID) {
                ASSERT_EQ(S_OK, media.SaveCalendar(&rec, 0));
            }
            vfs.Arm(mode.eFault, n, mode.bPersistent);
            HRESULT hr = media.SetBatchMode(FALSE);
            nCalls = n == 0 ? vfs.Calls() : nCalls;
            vfs.Disarm();
            if (hr != S_OK && media.IsBatchMode()) {
                hr = media.SetBatchMode(FALSE);
            } else {
                nEnded += hr != S_OK;
            }
            EXPECT_FALSE(media.IsBatchMode());
            const size_t nStored = dbstate::ReadDbState(strDb).keys.size();
            EXPECT_EQ(hr == S_OK ? 2u : 0u, nStored);
            ASSERT_EQ(S_OK, media.SaveCalendar(&rec, 0));
            EXPECT_EQ(nStored + 1, dbstate::ReadDbState(strDb).keys.size()) << "the next write did not land at once";
        }
    }
    EXPECT_GT(nEnded, 0) << "no failed commit ended its batch";
}

}  // namespace
