// Opening the account database: creation, upgrade, recovery of damaged files, the
// size cap and path limits, on a real file read back with the sqlite3 tool.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "media/VxCalStoreMedia.h"

using namespace testing_support;

namespace {

// The schema as the sqlite3 tool prints it (SQLite keeps each create statement's text).
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
    "insert into Event values(1, 1, 'old event'); insert into Event values(1, 2, 'another old event');";

const DWORD s_dwAccount = 123;

// A root whose account database path has exactly cchDbPath characters.
std::string RootForDbPathLength(const CTempDir& dir, size_t cchDbPath)
{
    const size_t cchTail = std::string("/123/CalData.db").size();
    std::string strRoot = dir.Path();
    // Each level costs its name and a separator; the last one takes up the rest.
    while (cchDbPath - cchTail - strRoot.size() > 101) {
        strRoot += "/" + std::string(50, 'd');
    }
    return strRoot + "/" + std::string(cchDbPath - cchTail - strRoot.size() - 1, 'e');
}

class MediaOpenTest : public ::testing::Test {
protected:
    MediaOpenTest() { MakeDirs(m_strAccountDir); }

    HRESULT Open() { return m_media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE); }
    std::string Sql(const std::string& strScript) { return RunSqliteShell(m_strDbPath, strScript); }
    std::string Bytes(const std::string& strPath)
    {
        std::string str;
        EXPECT_TRUE(ReadFile(strPath, str)) << strPath;
        return str;
    }
    // Backups in the account directory: a 14-digit stamp followed by "CalData.db".
    std::vector<std::string> Backups() const
    {
        static const std::regex s_backupName("[0-9]{14}CalData\\.db");
        std::vector<std::string> names;
        for (const std::string& strName : ListDir(m_strAccountDir)) {
            if (std::regex_match(strName, s_backupName)) {
                names.push_back(m_strAccountDir + "/" + strName);
            }
        }
        return names;
    }
    void ExpectFreshDatabase()
    {
        EXPECT_EQ(s_szExpectedSchema, Sql(".schema"));
        EXPECT_EQ("2|2|0|0\n0|0\n", Sql("select * from Version; select (select count(*) from Calendar),"
                                        " (select count(*) from Event);"));
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    const std::string m_strAccountDir = m_dir.Join("123"), m_strDbPath = m_strAccountDir + "/CalData.db";
    CVxCalStoreMedia m_media;
};

TEST_F(MediaOpenTest, CreatesTheTablesInAnEmptyDirectoryAndLeavesACurrentFileAsItIs)
{
    EXPECT_EQ(E_INVALIDARG, m_media.Open(s_dwAccount, nullptr, FALSE));
    EXPECT_FALSE(FileExists(m_strDbPath));
    // Whatever name is given, the account's file is "CalData.db".
    ASSERT_EQ(S_OK, m_media.Open(s_dwAccount, WTEXT("other.db"), FALSE));
    EXPECT_EQ(std::vector<std::string>{"CalData.db"}, ListDir(m_strAccountDir));
    EXPECT_FALSE(IsOpenInProcess(m_strDbPath)) << "Open must end with the connection closed";
    ExpectFreshDatabase();
    // The stored file keeps the rollback journal that older readers expect.
    EXPECT_EQ("delete\n", Sql("pragma journal_mode;"));
    // A current file with rows is left as it is.
    Sql("insert into Calendar(UIN, CalID, subject) values(123, 5, 'work');");
    const std::string strBefore = Bytes(m_strDbPath);
    ASSERT_EQ(S_OK, m_media.Open(s_dwAccount, WTEXT("CalData.db"), TRUE));
    EXPECT_EQ(strBefore, Bytes(m_strDbPath));
}

TEST_F(MediaOpenTest, BacksUpADamagedOrOldFileWholeAndRebuildsIt)
{
    const std::vector<std::string> cases = {
        "",  // not a database: written below
        "create table Version (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int); insert into Version values(2,2,0,0);"
        "create table Calendar (UIN int, CalID int, subject text); insert into Calendar values(123, 1, 'kept');",
        "create table Other (x int);",
        // Tables without their current columns, and no Version row.
        "create table Version (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int);"
        "create table Calendar (UIN int); create table Event (CalID int);",
        s_szVersionOneScript,
    };
    for (const std::string& strScript : cases) {
        SCOPED_TRACE(strScript);
        RemoveTree(m_strAccountDir);
        MakeDirs(m_strAccountDir);
        if (strScript.empty()) {
            ASSERT_TRUE(WriteFile(m_strDbPath, std::string(5000, 'x')));
        } else {
            Sql(strScript);
        }
        const std::string strOriginal = Bytes(m_strDbPath);
        ASSERT_EQ(S_OK, Open());
        const std::vector<std::string> backups = Backups();
        ASSERT_EQ(1u, backups.size());
        EXPECT_EQ(strOriginal, Bytes(backups[0]));
        ExpectFreshDatabase();
    }
}

TEST_F(MediaOpenTest, ABackupNeverReplacesAnEarlierOne)
{
    // Backups named for this second and the next few already exist.
    const time_t tNow = std::time(nullptr);
    std::vector<std::string> earlier;
    for (int nOffset = -1; nOffset <= 4; ++nOffset) {
        const time_t t = tNow + nOffset;
        char szName[32];
        std::strftime(szName, sizeof(szName), "%Y%m%d%H%M%SCalData.db", std::localtime(&t));
        earlier.push_back(m_strAccountDir + "/" + szName);
        ASSERT_TRUE(WriteFile(earlier.back(), "earlier backup " + std::to_string(nOffset)));
    }
    ASSERT_TRUE(WriteFile(m_strDbPath, "not a database"));
    ASSERT_EQ(S_OK, Open());
    EXPECT_EQ(earlier.size() + 1, Backups().size());
    for (size_t i = 0; i < earlier.size(); ++i) {
        EXPECT_EQ("earlier backup " + std::to_string(int(i) - 1), Bytes(earlier[i]));
    }
    ExpectFreshDatabase();
}

TEST_F(MediaOpenTest, LetsAFileOfExactlyTheCapThroughAndRefusesOneByteMore)
{
    ASSERT_EQ(S_OK, Open());
    // Growing the file with zeros keeps it a valid database (SQLite ignores the tail).
    std::filesystem::resize_file(std::filesystem::u8path(m_strDbPath), 104857600);
    EXPECT_EQ(S_OK, Open());
    EXPECT_EQ(104857600, FileSize(m_strDbPath));

    std::filesystem::resize_file(std::filesystem::u8path(m_strDbPath), 104857601);
    EXPECT_EQ(E_FAIL, Open());
    EXPECT_EQ(104857601, FileSize(m_strDbPath));
    EXPECT_TRUE(Backups().empty());
}

TEST_F(MediaOpenTest, AFailedOpenCommitsTheBatchAndLeavesNoFileToWorkOn)
{
    ASSERT_EQ(S_OK, Open());
    ASSERT_EQ(S_OK, m_media.SetBatchMode(TRUE));
    tagCalendarRecord rec{};
    rec.dwCalID = 1;
    ASSERT_EQ(S_OK, m_media.SaveCalendar(&rec, 0));

    // Opening another account whose path is refused: the open batch is committed
    // and no later operation may reach the first account's file.
    CTempDir dirLong;
    CScopedRoot root(dirLong.Path() + "/" + std::string(250, 'x'));
    EXPECT_EQ(E_FAIL, m_media.Open(7, WTEXT("CalData.db"), FALSE));
    rec.dwCalID = 2;
    EXPECT_EQ(E_FAIL, m_media.SaveCalendar(&rec, 0));
    EXPECT_EQ(E_FAIL, m_media.DelAllCalendar());
    EXPECT_EQ("1\n", Sql("select CalID from Calendar;"));
    EXPECT_FALSE(IsOpenInProcess(m_strDbPath));
}

// A path over 260 characters is refused before anything is made. One that fits,
// but whose backup name (14 longer) does not, keeps a damaged or old file as it
// is when the copy fails.
TEST(MediaPathLimitTest, RefusesAnOverlongPathAndKeepsAFileItCannotBackUp)
{
    CTempDir dir;
    const std::pair<size_t, const char*> cases[] = {{300, ""}, {250, "damaged"}, {250, "old"}};
    for (const auto& [cchDbPath, pszFile] : cases) {
        const std::string strRoot = RootForDbPathLength(dir, cchDbPath), strDbPath = strRoot + "/123/CalData.db";
        MakeDirs(strRoot + "/123");
        CScopedRoot root(strRoot);
        std::filesystem::remove(std::filesystem::u8path(strDbPath));
        if (std::string(pszFile) == "old") {
            RunSqliteShell(strDbPath, s_szVersionOneScript);
        } else if (*pszFile != 0) {
            ASSERT_TRUE(WriteFile(strDbPath, "not a database, but somebody's only copy"));
        }
        std::string strBefore, strAfter;
        ReadFile(strDbPath, strBefore);
        const std::vector<std::string> before = ListDir(strRoot + "/123");
        CVxCalStoreMedia media;
        EXPECT_EQ(E_FAIL, media.Open(s_dwAccount, WTEXT("CalData.db"), FALSE)) << pszFile;
        ReadFile(strDbPath, strAfter);
        EXPECT_EQ(strBefore, strAfter);
        EXPECT_FALSE(IsOpenInProcess(strDbPath));
#ifdef _WIN32  // Windows' plain file calls cannot reach a folder this deep, to make or list it
        if (cchDbPath > 260) {
            continue;
        }
#endif
        EXPECT_EQ(before, ListDir(strRoot + "/123")) << pszFile;
    }
}

}  // namespace
