// Opening the account database: creation, version check and upgrade, recovery of
// damaged files, the size cap and path limits. Every case runs on a real file in
// its own scratch root and reads the result back with the sqlite3 tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "media/VxCalStoreMedia.h"

using namespace testing_support;

namespace {

// The schema as the sqlite3 tool prints it: SQLite keeps each create statement's
// text and only capitalises its leading keywords. Beside the three tables the file
// holds only plain indexes.
const char s_szExpectedSchema[] =
    "CREATE TABLE Version (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int);\n"
    "CREATE TABLE Calendar (UIN int, CalID int, CalType int, ShrLevel int, TmStamp int, subject text, detail "
    "text,ContactID text,ContactInfo text, SponsorID int,FromCalID int,ext1 text,ext2 text,ext3 text,ext4 int,ext5 "
    "int, nums int);\n"
    "CREATE TABLE Event(CalID int,EvtID int,EvtType int,BgnTm int,EndTm int,TmStamp int,TipType int,Minute int,Hour "
    "int,Day int,Week int,Month int,LoopType int,subject text,detail text,Synchronized int,RevisedState int "
    ",RemindMinute int,ContactID text,ContactInfo text,Location text,SponsorID int,WeekNum int,MonthNum int,Year "
    "int,CalType int,EndType int,SwitchTimes int,LoopCalID int,LoopEventID int,CalOwnerUin int,EventRight "
    "int,ContactIDDisplay text,ContactIDInvalid text,EventStatus int, Valid int,ext1 text,ext2 text,ext3 text,ext4 "
    "int, ext5 int,nums int);\n"
    "CREATE INDEX EventEvtIDCalID on Event(EvtID, CalID);\n"
    "CREATE INDEX EventExt3 on Event(ext3);\n"
    "CREATE INDEX EventLoopEventID on Event(LoopEventID, LoopCalID);\n";

// A file in the layout of format version 1: the same tables, Version row 1.
const char s_szVersionOneScript[] =
    "create table Version (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int);"
    "insert into Version values(1,1,0,0);"
    "create table Calendar (UIN int, CalID int, subject text);"
    "insert into Calendar values(7, 1, 'old calendar');"
    "create table Event (CalID int, EvtID int, subject text);"
    "insert into Event values(1, 1, 'old event');"
    "insert into Event values(1, 2, 'another old event');";

const DWORD s_dwAccount = 123;

class MediaOpenTest : public ::testing::Test {
protected:
    MediaOpenTest() : m_root(m_dir.Path()), m_strAccountDir(m_dir.Join("123")), m_strDbPath(m_strAccountDir + "/CalData.db")
    {
        MakeDirs(m_strAccountDir);
        CVxCalStoreMedia::SetTraceHook(&MediaOpenTest::CollectTrace, this);
    }
    ~MediaOpenTest() override { CVxCalStoreMedia::SetTraceHook(nullptr, nullptr); }

    static void CollectTrace(void* pContext, LPCWSTR pszText)
    {
        static_cast<MediaOpenTest*>(pContext)->m_traces.push_back(Narrow(pszText));
    }

    std::string Sql(const std::string& strScript) { return RunSqliteShell(m_strDbPath, strScript); }

    // Backups in the account directory: a 14-digit stamp followed by "CalData.db".
    std::vector<std::string> Backups() const
    {
        static const std::regex s_backupName("[0-9]{14}CalData\\.db");
        std::vector<std::string> names;
        for (const std::string& strName : ListDir(m_strAccountDir)) {
            if (std::regex_match(strName, s_backupName)) {
                names.push_back(strName);
            }
        }
        return names;
    }

    void ExpectFreshDatabase()
    {
        EXPECT_EQ(s_szExpectedSchema, Sql(".schema"));
        EXPECT_EQ("2|2|0|0\n", Sql("select * from Version;"));
        EXPECT_EQ("0|0\n", Sql("select (select count(*) from Calendar), (select count(*) from Event);"));
    }

    bool Traced(const std::string& strLine) const
    {
        return std::find(m_traces.begin(), m_traces.end(), strLine) != m_traces.end();
    }

    CTempDir m_dir;
    CScopedRoot m_root;
    std::string m_strAccountDir;
    std::string m_strDbPath;
    std::vector<std::string> m_traces;
};

TEST_F(MediaOpenTest, CreatesTheThreeTablesAndTheVersionRowInAnEmptyDirectory)
{
    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));

    ASSERT_TRUE(FileExists(m_strDbPath));
    EXPECT_FALSE(IsOpenInProcess(m_strDbPath)) << "Open must end with the connection closed";
    ExpectFreshDatabase();
    EXPECT_EQ("integer|integer|integer|integer\n",
              Sql("select typeof(CalTblVer), typeof(EventTblVer), typeof(Ext1), typeof(Ext2) from Version;"));
    // The stored file keeps the rollback journal that older readers expect.
    EXPECT_EQ("delete\n", Sql("pragma journal_mode;"));
    EXPECT_TRUE(Backups().empty());
}

TEST_F(MediaOpenTest, LeavesACurrentFileWithRowsAsItIs)
{
    {
        CVxCalStoreMedia media;
        ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    }
    Sql("insert into Calendar(UIN, CalID, subject) values(123, 5, 'work');"
        "insert into Event(CalID, EvtID, subject) values(5, 9, 'meeting');");
    std::string strBefore;
    ASSERT_TRUE(ReadFile(m_strDbPath, strBefore));

    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    // Opening twice on one object reruns the check and changes nothing either.
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), TRUE));

    std::string strAfter;
    ASSERT_TRUE(ReadFile(m_strDbPath, strAfter));
    EXPECT_EQ(strBefore, strAfter);
    EXPECT_TRUE(Backups().empty());
}

TEST_F(MediaOpenTest, RefusesAMissingFileNameWithoutTouchingAnything)
{
    CVxCalStoreMedia media;
    EXPECT_EQ(E_INVALIDARG, media.Open(s_dwAccount, nullptr, FALSE));
    EXPECT_FALSE(FileExists(m_strDbPath));
    // Whatever name is given, the account's file is "CalData.db".
    EXPECT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("other.db"), FALSE));
    EXPECT_TRUE(FileExists(m_strDbPath));
    EXPECT_FALSE(FileExists(m_strAccountDir + "/other.db"));
}

TEST_F(MediaOpenTest, BacksUpAndReplacesAFileThatIsNotADatabase)
{
    const std::string strGarbage(5000, 'x');
    ASSERT_TRUE(WriteFile(m_strDbPath, strGarbage));

    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));

    const std::vector<std::string> backups = Backups();
    ASSERT_EQ(1u, backups.size());
    std::string strSaved;
    ASSERT_TRUE(ReadFile(m_strAccountDir + "/" + backups[0], strSaved));
    EXPECT_EQ(strGarbage, strSaved);
    // The failure comes from compiling the first query, which carries no detail text.
    EXPECT_TRUE(Traced("26: UNKNOWN_ERROR[26]: \r\n"));
    ExpectFreshDatabase();
}

TEST_F(MediaOpenTest, ReportsTheFirstMissingTableAndRebuildsAfterABackup)
{
    Sql("create table Version (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int);"
        "insert into Version values(2,2,0,0);"
        "create table Calendar (UIN int, CalID int, subject text);"
        "insert into Calendar values(123, 1, 'kept in the backup');");

    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));

    EXPECT_TRUE(Traced("No Event Table!\r\n"));
    EXPECT_TRUE(Traced("101: SQLITE_DONE[101]: No Event Table!\r\n"));
    const std::vector<std::string> backups = Backups();
    ASSERT_EQ(1u, backups.size());
    EXPECT_EQ("kept in the backup\n",
              RunSqliteShell(m_strAccountDir + "/" + backups[0], "select subject from Calendar;"));
    ExpectFreshDatabase();
}

TEST_F(MediaOpenTest, ChecksTheVersionTableFirst)
{
    Sql("create table Other (x int);");
    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    EXPECT_TRUE(Traced("No Version Table!\r\n"));
    EXPECT_FALSE(Traced("No Calendar Table!\r\n"));
    EXPECT_EQ(1u, Backups().size());
    ExpectFreshDatabase();
}

TEST_F(MediaOpenTest, UpgradesAVersionOneFileAfterSavingItsRows)
{
    Sql(s_szVersionOneScript);

    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));

    ExpectFreshDatabase();
    const std::vector<std::string> backups = Backups();
    ASSERT_EQ(1u, backups.size()) << "the rows of the old tables must survive in a backup";
    EXPECT_EQ("1|old calendar\n2\n",
              RunSqliteShell(m_strAccountDir + "/" + backups[0],
                             "select CalID, subject from Calendar; select count(*) from Event;"));
}

TEST_F(MediaOpenTest, GivesAVersionTableWithoutARowItsRow)
{
    Sql("create table Version (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int);"
        "create table Calendar (UIN int);"
        "create table Event (CalID int);");
    {
        CVxCalStoreMedia media;
        ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    }
    ExpectFreshDatabase();
    EXPECT_EQ(1u, Backups().size());

    // With its row in place the file counts as current: rows added now stay.
    Sql("insert into Calendar(UIN, CalID) values(123, 1);");
    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    EXPECT_EQ("1\n", Sql("select count(*) from Calendar;"));
    EXPECT_EQ("1\n", Sql("select count(*) from Version;"));
}

TEST_F(MediaOpenTest, LetsAFileOfExactlyTheCapThroughAndRefusesOneByteMore)
{
    {
        CVxCalStoreMedia media;
        ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    }
    // Growing the file with zeros keeps it a valid database (SQLite ignores the tail).
    std::filesystem::resize_file(std::filesystem::u8path(m_strDbPath), CVxCalStoreMedia::s_cbMaxDbFile);
    {
        CVxCalStoreMedia media;
        EXPECT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    }
    EXPECT_EQ(104857600, FileSize(m_strDbPath));

    std::filesystem::resize_file(std::filesystem::u8path(m_strDbPath), CVxCalStoreMedia::s_cbMaxDbFile + 1);
    std::string strHeaderBefore;
    ASSERT_TRUE(ReadFile(m_strDbPath, strHeaderBefore));
    strHeaderBefore.resize(4096);
    {
        CVxCalStoreMedia media;
        EXPECT_EQ(E_FAIL, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    }
    EXPECT_TRUE(Traced("file size too big!\r\n"));
    EXPECT_EQ(104857601, FileSize(m_strDbPath));
    std::string strHeaderAfter;
    ASSERT_TRUE(ReadFile(m_strDbPath, strHeaderAfter));
    strHeaderAfter.resize(4096);
    EXPECT_EQ(strHeaderBefore, strHeaderAfter);
    EXPECT_TRUE(Backups().empty());
}

TEST_F(MediaOpenTest, UsesTheSignedDecimalAccountNumberAsDirectoryName)
{
    MakeDirs(m_dir.Join("-1"));
    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(4294967295u, WTEXT("CalData.db"), FALSE));
    EXPECT_TRUE(FileExists(m_dir.Join("-1/CalData.db")));
}

// A root whose account database path has exactly cchDbPath characters.
std::string RootForDbPathLength(const CTempDir& dir, size_t cchDbPath)
{
    const size_t cchTail = std::string("/123/CalData.db").size();
    std::string strRoot = dir.Path();
    // Each level costs its name and a separator; the last one takes up the rest.
    while (cchDbPath - cchTail - strRoot.size() > 101) {
        strRoot += "/" + std::string(50, 'd');
    }
    strRoot += "/" + std::string(cchDbPath - cchTail - strRoot.size() - 1, 'e');
    return strRoot;
}

class MediaPathLimitTest : public ::testing::Test {
protected:
    void SetUp() override { CVxCalStoreMedia::SetTraceHook(nullptr, nullptr); }
    CTempDir m_dir;
};

TEST_F(MediaPathLimitTest, RefusesAnOverlongPathWithoutCreatingAnything)
{
    const std::string strRoot = RootForDbPathLength(m_dir, 300);
    MakeDirs(strRoot + "/123");
    CScopedRoot root(strRoot);
    CVxCalStoreMedia media;
    EXPECT_EQ(E_FAIL, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
#ifndef _WIN32  // Windows' plain file calls cannot reach a folder this deep, to make or list it
    EXPECT_TRUE(ListDir(strRoot + "/123").empty());
#endif
}

TEST_F(MediaPathLimitTest, KeepsADamagedFileWhenItsBackupCannotBeWritten)
{
    // The database path fits in 260 characters but its backup name, 14 longer, does
    // not: the copy fails, so the damaged file must stay as it is.
    const std::string strRoot = RootForDbPathLength(m_dir, 250);
    const std::string strDbPath = strRoot + "/123/CalData.db";
    ASSERT_EQ(250u, strDbPath.size());
    MakeDirs(strRoot + "/123");
    CScopedRoot root(strRoot);
    const std::string strGarbage = "not a database, but somebody's only copy";
    ASSERT_TRUE(WriteFile(strDbPath, strGarbage));

    CVxCalStoreMedia media;
    EXPECT_EQ(E_FAIL, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    std::string strAfter;
    ASSERT_TRUE(ReadFile(strDbPath, strAfter));
    EXPECT_EQ(strGarbage, strAfter);
    EXPECT_EQ(1u, ListDir(strRoot + "/123").size());
    EXPECT_FALSE(IsOpenInProcess(strDbPath));
}

TEST_F(MediaPathLimitTest, KeepsAnOldFormatFileWhenItsBackupCannotBeWritten)
{
    const std::string strRoot = RootForDbPathLength(m_dir, 250);
    const std::string strDbPath = strRoot + "/123/CalData.db";
    MakeDirs(strRoot + "/123");
    CScopedRoot root(strRoot);
    RunSqliteShell(strDbPath, s_szVersionOneScript);

    CVxCalStoreMedia media;
    EXPECT_EQ(E_FAIL, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    EXPECT_EQ("1\n2\n", RunSqliteShell(strDbPath, "select count(*) from Calendar; select count(*) from Event;"));
}

TEST_F(MediaPathLimitTest, UsesTheBareFileNameWhenNoRootDirectoryIsKnown)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows always knows a root: %LOCALAPPDATA%";
#endif
    const char* apszVariables[] = {"CALSTORE_ROOT", "XDG_DATA_HOME", "HOME"};
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char* pszName : apszVariables) {
        if (const char* pszValue = std::getenv(pszName)) {
            saved.emplace_back(pszName, pszValue);
        }
        UnsetEnvVar(pszName);
    }
    const std::filesystem::path previousDir = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::u8path(m_dir.Path()));

    HRESULT hr = E_UNEXPECTED;
    {
        CVxCalStoreMedia media;
        hr = media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE);
    }

    std::filesystem::current_path(previousDir);
    for (const auto& entry : saved) {
        SetEnvVar(entry.first, entry.second);
    }
    EXPECT_EQ(S_OK, hr);
    EXPECT_TRUE(FileExists(m_dir.Join("CalData.db")));
}

}  // namespace

namespace {

TEST_F(MediaOpenTest, AFailedOpenLeavesNoFileToWorkOn)
{
    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    ASSERT_EQ(S_OK, media.SetBatchMode(TRUE));

    // Opening another account whose path is refused: the open batch is committed
    // and no later operation may reach the first account's file.
    CTempDir dirLong;
    CScopedRoot root(dirLong.Path() + "/" + std::string(250, 'x'));
    EXPECT_EQ(E_FAIL, media.Open(7, WTEXT("CalData.db"), FALSE));
    tagCalendarRecord rec{};
    rec.dwCalID = 1;
    EXPECT_EQ(E_FAIL, media.SaveCalendar(&rec, 0));
    EXPECT_EQ(E_FAIL, media.DelAllCalendar());
    EXPECT_EQ("0\n", Sql("select count(*) from Calendar;"));
    EXPECT_FALSE(IsOpenInProcess(m_strDbPath));
}

TEST_F(MediaOpenTest, ABackupNeverReplacesAnEarlierOne)
{
    // Backups named for this second and the next few already exist.
    const time_t tNow = std::time(nullptr);
    std::vector<std::string> earlier;
    for (int nOffset = -1; nOffset <= 4; ++nOffset) {
        const time_t t = tNow + nOffset;
        struct tm tmLocal {};
#ifdef _WIN32
        localtime_s(&tmLocal, &t);
#else
        localtime_r(&t, &tmLocal);
#endif
        char szName[32];
        std::strftime(szName, sizeof(szName), "%Y%m%d%H%M%SCalData.db", &tmLocal);
        earlier.push_back(szName);
        ASSERT_TRUE(WriteFile(m_strAccountDir + "/" + szName, "earlier backup " + std::to_string(nOffset)));
    }
    ASSERT_TRUE(WriteFile(m_strDbPath, "not a database"));

    CVxCalStoreMedia media;
    ASSERT_EQ(S_OK, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE));
    const std::vector<std::string> backups = Backups();
    ASSERT_EQ(earlier.size() + 1, backups.size());
    for (size_t i = 0; i < earlier.size(); ++i) {
        std::string strContent;
        ASSERT_TRUE(ReadFile(m_strAccountDir + "/" + earlier[i], strContent));
        EXPECT_EQ("earlier backup " + std::to_string(int(i) - 1), strContent);
    }
    ExpectFreshDatabase();
}

}  // namespace
