// Every file call a scenario makes, failed in turn: for each scenario a clean run
// counts the calls that a fault kind can hit, then the scenario runs once per call
// with that call failing (once, or from then on), and the file is examined as the
// next start finds it. Nothing acknowledged may be missing, the file must pass
// integrity_check, a damaged or old file must survive as itself or as a complete
// backup, and a healthy file must never be moved to a backup.
//
// Acknowledged: outside batch mode, the write returned S_OK; inside a batch, the
// write and the call that ended the batch both returned S_OK. A batch whose end
// failed is all or nothing once the store is gone.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
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

// A key and whether the write leaves it stored ("C<cal>" or "E<cal>.<evt>").
using Effects = std::vector<std::pair<std::string, bool>>;

std::string CalKey(LONG lCalID) { return "C" + std::to_string(lCalID); }
std::string EvtKey(LONG lCalID, LONG lEvtID) { return "E" + std::to_string(lCalID) + "." + std::to_string(lEvtID); }

// What the store answered to each write and to each end of a batch.
class CLedger {
public:
    void Write(HRESULT hr, Effects effects) { m_writes.push_back({std::move(effects), hr, m_nOpenBatch}); }
    void BeginBatch()
    {
        m_batches.push_back(s_hrBatchOpen);
        m_nOpenBatch = int(m_batches.size()) - 1;
    }
    void EndBatch(HRESULT hr)
    {
        if (m_nOpenBatch >= 0) {
            m_batches[size_t(m_nOpenBatch)] = hr;
            m_nOpenBatch = -1;
        }
    }
    bool InBatch() const { return m_nOpenBatch >= 0; }

    // Compares what is stored with what was acknowledged, starting from the
    // baseline; adds a line per problem and returns how many acknowledged rows
    // (written now or stored before) are missing or back.
    int Check(const std::set<std::string>& baseline, const std::set<std::string>& stored,
              std::vector<std::string>& problems) const
    {
        std::map<std::string, std::pair<const CWrite*, bool>> last;
        for (const CWrite& w : m_writes) {
            for (const auto& [strKey, bPresent] : w.effects) {
                last[strKey] = {&w, bPresent};
            }
        }
        std::set<std::string> keys = baseline;
        keys.insert(stored.begin(), stored.end());
        for (const auto& entry : last) {
            keys.insert(entry.first);
        }
        int nLost = 0;
        for (const std::string& strKey : keys) {
            const bool bBefore = baseline.count(strKey) != 0, bNow = stored.count(strKey) != 0;
            const auto it = last.find(strKey);
            if (it == last.end() || Acknowledged(*it->second.first)) {
                const bool bWant = it == last.end() ? bBefore : it->second.second;
                if (bNow != bWant) {
                    ++nLost;
                    problems.push_back(strKey + (bWant ? " acknowledged but missing" : " deleted (acknowledged) but back"));
                }
            } else if (bNow != bBefore && bNow != it->second.second) {
                problems.push_back(strKey + " in a state no write asked for");
            }
        }
        // A batch that did not end well: its writes all landed, or none did.
        for (size_t nBatch = 0; nBatch < m_batches.size(); ++nBatch) {
            if (m_batches[nBatch] == S_OK) {
                continue;
            }
            std::set<std::string> applied, missing;
            for (const CWrite& w : m_writes) {
                if (w.nBatch != int(nBatch) || w.hr != S_OK) {
                    continue;
                }
                for (const auto& [strKey, bPresent] : w.effects) {
                    if (bPresent != (baseline.count(strKey) != 0)) {
                        (stored.count(strKey) != 0) == bPresent ? applied.insert(strKey) : missing.insert(strKey);
                    }
                }
            }
            if (!applied.empty() && !missing.empty()) {
                problems.push_back("a failed batch landed in part: " + *applied.begin() + " stored, " +
                                   *missing.begin() + " not");
            }
        }
        return nLost;
    }

private:
    struct CWrite {
        Effects effects;
        HRESULT hr;
        int nBatch;  // -1: outside batch mode
    };
    bool Acknowledged(const CWrite& w) const
    {
        return w.hr == S_OK && (w.nBatch < 0 || m_batches[size_t(w.nBatch)] == S_OK);
    }

    std::vector<CWrite> m_writes;
    std::vector<HRESULT> m_batches;  // s_hrBatchOpen until the batch ends
    int m_nOpenBatch = -1;
};

// The store driven as a host drives it, every answer entered in the ledger.
class CRecordedStore {
public:
    explicit CRecordedStore(CLedger& ledger) : m_ledger(ledger) {}

    void Start()
    {
        m_store.Start();
        m_ledger.BeginBatch();  // the start-up batch, in force or not
    }
    void EndStartupBatch() { m_ledger.EndBatch(m_store.EndStartupBatch()); }
    void BeginBatch()
    {
        if (m_store.SetBatchMode(true) == S_OK) {
            m_ledger.BeginBatch();
        }
    }
    void EndBatch() { m_ledger.EndBatch(m_store.SetBatchMode(false)); }
    void Stop()
    {
        const HRESULT hr = m_store.Stop();
        m_ledger.EndBatch(hr);
    }
    void AddCalendar(LONG lCalID) { m_ledger.Write(m_store.AddCalendar(lCalID), {{CalKey(lCalID), true}}); }
    void AddEvent(LONG lCalID, LONG lEvtID)
    {
        m_ledger.Write(m_store.AddEvent(lCalID, lEvtID), {{EvtKey(lCalID, lEvtID), true}});
    }
    void DelAllEventofCalendar(LONG lCalID, int nEvents)
    {
        Effects effects;
        for (LONG lEvtID = 1; lEvtID <= nEvents; ++lEvtID) {
            effects.push_back({EvtKey(lCalID, lEvtID), false});
        }
        m_ledger.Write(m_store.DelAllEventofCalendar(lCalID), effects);
    }
    void DelCalendar(LONG lCalID) { m_ledger.Write(m_store.DelCalendar(lCalID), {{CalKey(lCalID), false}}); }

private:
    CLedger& m_ledger;
    CStoreDriver m_store{s_dwAccount};
};

// What a scenario starts from.
enum class EFile {
    New,       // no file: the first start
    Healthy,   // current tables with calendars 1 (5 events) and 2 (10 events); it must stay where it is
    Precious,  // damaged or old: it may be replaced, but only with a complete backup beside it
};

struct CScenario {
    const char* pszName;
    EFile eFile;
    std::function<void(const std::string& strDbPath)> prepare;  // adjusts the healthy file (Healthy, Precious)
    std::function<void(CRecordedStore& store)> run;
};

// Named in test listings by its name, not its bytes.
void PrintTo(const CScenario& scenario, std::ostream* pOut) { *pOut << scenario.pszName; }

void Sql(const std::string& strDbPath, const std::string& strSql)
{
    std::string strError;
    ASSERT_TRUE(dbstate::ExecSql(strDbPath, strSql, &strError)) << strError;
}

void StartAddOneAndStop(CRecordedStore& store)
{
    store.Start();
    store.AddCalendar(5);
    store.EndStartupBatch();
    store.Stop();
}

const CScenario s_scenarios[] = {
    {"first start", EFile::New, nullptr,
     [](CRecordedStore& store) {
         store.Start();
         store.AddCalendar(1);
         store.AddEvent(1, 1);
         store.EndStartupBatch();
         store.Stop();
     }},
    {"start-up burst", EFile::Healthy, nullptr,
     [](CRecordedStore& store) {
         store.Start();
         store.AddCalendar(3);
         for (LONG lEvtID = 1; lEvtID <= 40; ++lEvtID) {
             store.AddEvent(3, lEvtID);
         }
         store.EndStartupBatch();
         store.Stop();
     }},
    {"single write", EFile::Healthy, nullptr,
     [](CRecordedStore& store) {
         store.Start();
         store.EndStartupBatch();
         store.AddEvent(1, 6);
         store.Stop();
     }},
    {"calendar delete", EFile::Healthy, nullptr,
     [](CRecordedStore& store) {
         store.Start();
         store.EndStartupBatch();
         store.BeginBatch();
         store.DelAllEventofCalendar(2, 10);
         store.DelCalendar(2);
         store.EndBatch();
         store.Stop();
     }},
    {"damaged file rebuild", EFile::Precious, [](const std::string& strDb) { Sql(strDb, "drop table Event;"); },
     StartAddOneAndStop},
    {"not a database", EFile::Precious,
     [](const std::string& strDb) {
         std::string strJunk;
         for (int n = 0; n < 200; ++n) {
             strJunk += "this is not an SQLite database file\n";
         }
         ASSERT_TRUE(WriteFile(strDb, strJunk));
     },
     StartAddOneAndStop},
    {"version upgrade", EFile::Precious,
     [](const std::string& strDb) {
         fs::remove(strDb);
         Sql(strDb,
             "create table Version (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int);"
             "insert into Version values(1, 1, 0, 0);"
             "create table Calendar (UIN int, CalID int, subject text);"
             "create table Event (CalID int, EvtID int, subject text);"
             "insert into Calendar values(123, 1, 'old'); insert into Event values(1, 1, 'old event');");
     },
     StartAddOneAndStop},
    // Current tables whose Version row is gone: the data is kept and the row written.
    {"version row lost", EFile::Healthy, [](const std::string& strDb) { Sql(strDb, "delete from Version;"); },
     StartAddOneAndStop},
};

struct CFaultMode {
    EFault eFault;
    bool bPersistent;
};
const CFaultMode s_modes[] = {
    {EFault::IoError, false}, {EFault::IoError, true}, {EFault::DiskFull, false},
    {EFault::DiskFull, true}, {EFault::Busy, false},
};

class FaultInjectionTest : public ::testing::TestWithParam<CScenario> {
protected:
    FaultInjectionTest() { CVxCalStoreMedia::SetTraceHook(nullptr, nullptr); }

    // The healthy file every scenario but the first start begins from, made once
    // by the store itself.
    void MakeTemplate()
    {
        fs::create_directories(m_strAccountDir);
        CLedger ledger;
        {
            CRecordedStore store(ledger);
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
        const CScenario& scenario = GetParam();
        if (scenario.prepare) {
            scenario.prepare(m_strDbPath);
        }
        fs::copy_file(m_strDbPath, m_strTemplate, fs::copy_options::overwrite_existing);
        m_strOriginal = dbstate::FileBytes(m_strTemplate);
        if (scenario.eFile == EFile::Healthy) {
            m_baseline = dbstate::ReadDbState(m_strTemplate).keys;
            ASSERT_EQ(17u, m_baseline.size());
        }
    }

    void ResetAccount()
    {
        fs::remove_all(m_strAccountDir);
        if (GetParam().eFile != EFile::New) {
            fs::create_directories(m_strAccountDir);
            fs::copy_file(m_strTemplate, m_strDbPath);
        }
    }

    // One run with the nth call failing (0: none); returns the calls counted.
    long long RunOnce(const CFaultMode& mode, long long nFailAt)
    {
        ResetAccount();
        CLedger ledger;
        m_vfs.Arm(mode.eFault, nFailAt, mode.bPersistent);
        {
            CRecordedStore store(ledger);
            GetParam().run(store);
        }
        const long long nCalls = m_vfs.Calls();
        const faultvfs::EOp eHit = m_vfs.FirstFailedOp();
        m_vfs.Disarm();
        std::string strWhere = std::string(faultvfs::FaultName(mode.eFault)) + (mode.bPersistent ? " from " : " at ") +
                               "call " + std::to_string(nFailAt) + " (" + faultvfs::OpName(eHit) + ")";
        Examine(ledger, strWhere);
        return nCalls;
    }

    // Problems are grouped by kind (the text without its row key), each with its
    // count and the first injection point that showed it.
    void Problem(const std::string& strWhere, const std::string& strWhat)
    {
        ++m_nProblems;
        const size_t nSpace = strWhat.find(' ');
        const bool bKeyed = !strWhat.empty() && (strWhat[0] == 'C' || strWhat[0] == 'E') && nSpace != std::string::npos &&
                            strWhat.find_first_not_of("CE0123456789.") == nSpace;
        auto& entry = m_problems[bKeyed ? "<row>" + strWhat.substr(nSpace) : strWhat];
        if (entry.first++ == 0) {
            entry.second = strWhere + (bKeyed ? ", " + strWhat.substr(0, nSpace) : "");
        }
    }

    // The file as the next start finds it, then as it is after that start.
    void Examine(const CLedger& ledger, const std::string& strWhere)
    {
        const EFile eFile = GetParam().eFile;
        const dbstate::CDbState before = dbstate::ReadDbState(m_strDbPath);
        const std::vector<std::string> backups = dbstate::BackupNames(m_strAccountDir);
        if (eFile == EFile::New && !before.Blank() && !(before.Current() && before.bHasVersionRow)) {
            Problem(strWhere, "the first start left a partial file: " + before.Describe());
        }
        if (eFile != EFile::Precious && !backups.empty()) {
            Problem(strWhere, "a healthy file was moved to a backup");
        }
        if (eFile == EFile::Precious && dbstate::FileBytes(m_strDbPath) != m_strOriginal) {
            bool bKept = false;
            for (const std::string& strName : backups) {
                bKept = bKept || dbstate::FileBytes(m_strAccountDir + "/" + strName) == m_strOriginal;
            }
            if (!bKept) {
                Problem(strWhere, "the damaged or old file was replaced without a complete backup");
            }
        }
        if (before.bReadable && before.strIntegrity != "ok") {
            Problem(strWhere, "integrity_check: " + before.strIntegrity);
        }

        {
            CVxCalStoreMedia media;
            if (media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE) != S_OK) {
                Problem(strWhere, "the next start cannot open the file: " + before.Describe());
            }
        }
        const dbstate::CDbState after = dbstate::ReadDbState(m_strDbPath);
        if (before.Current() && dbstate::BackupNames(m_strAccountDir).size() != backups.size()) {
            Problem(strWhere, "the next start took a healthy file for damaged");
        }
        if (!after.Current() || after.strIntegrity != "ok" || after.nVersion != 2 || after.nDuplicateKeys != 0) {
            Problem(strWhere, "after the next start: " + after.Describe());
        }
        std::vector<std::string> problems;
        m_nLost += ledger.Check(m_baseline, after.keys, problems);
        for (const std::string& str : problems) {
            Problem(strWhere, str);
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
    int m_nLost = 0;
    std::map<std::string, std::pair<int, std::string>> m_problems;
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
    std::printf("fault injection: %s: %lld points, %d lost\n", GetParam().pszName, nPoints, m_nLost);
    std::string strShown;
    for (const auto& [strWhat, entry] : m_problems) {
        strShown += "\n  " + std::to_string(entry.first) + "x " + strWhat + " (first: " + entry.second + ")";
    }
    EXPECT_EQ(0, m_nLost) << "acknowledged rows missing";
    EXPECT_EQ(0, m_nProblems) << "problems by kind:" << strShown;
}

std::string ScenarioName(const ::testing::TestParamInfo<CScenario>& info)
{
    std::string strName;
    bool bUpper = true;
    for (const char* p = info.param.pszName; *p != 0; ++p) {
        if (*p == ' ' || *p == '-') {
            bUpper = true;
        } else {
            strName += bUpper ? char(std::toupper(*p)) : *p;
            bUpper = false;
        }
    }
    return strName;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultInjectionTest, ::testing::ValuesIn(s_scenarios), ScenarioName);

}  // namespace
