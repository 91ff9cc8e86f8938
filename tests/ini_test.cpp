// The INI reader and writer: the golden cases in tests/ini and the changes that
// SetValue and DeleteRecord make. The UTF-16 adapters are tested through the
// configuration media, failed rewrites in ini_fault_test. Every case works on a
// copy in its own scratch directory.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "config/IniFile.h"

using namespace testing_support;

namespace {

using Names = std::vector<std::string>;
const std::string kCasesDir = CALSTORE_INI_CASES_DIR;

std::string FileBytes(const std::string& strPath)
{
    std::string strContent;
    EXPECT_TRUE(ReadFile(strPath, strContent)) << strPath;
    return strContent;
}

// The golden cases: every "<name>.ini" in the cases directory. Names are letters,
// digits and "_", as test names must be.
Names CaseNames()
{
    Names names;
    for (const std::string& strFile : ListDir(kCasesDir)) {
        if (strFile.size() > 4 && strFile.compare(strFile.size() - 4, 4, ".ini") == 0) {
            names.push_back(strFile.substr(0, strFile.size() - 4));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One line per record: 'commentChar'|section|key|value|comments. In the fields
// backslash, "|", LF, CR and tab are escaped by name, other control bytes as \xHH;
// other bytes (UTF-8 included) stand as they are.
std::string Dump(const std::vector<IniRecord>& content)
{
    const auto escape = [](const std::string& str) {
        std::string strOut;
        for (const char ch : str) {
            const unsigned char uch = static_cast<unsigned char>(ch);
            const size_t nNamed = std::string("\\|\n\r\t").find(ch);
            char szOther[8];
            std::snprintf(szOther, sizeof szOther, uch < 0x20 || uch == 0x7F ? "\\x%02x" : "%c", uch);
            strOut += nNamed != std::string::npos ? std::string{'\\', "\\|nrt"[nNamed]} : std::string(szOther);
        }
        return strOut;
    };
    std::string strOut;
    for (const IniRecord& rec : content) {
        strOut += "'" + escape(std::string(1, rec.commentChar)) + "'|" + escape(rec.section) + "|" + escape(rec.key) +
                  "|" + escape(rec.value) + "|" + escape(rec.comments) + "\n";
    }
    return strOut;
}

// ---------------------------------------------------------------------------
// Golden cases

class IniGoldenTest : public ::testing::TestWithParam<std::string> {};

// Load gives the records and Save the bytes (reading a missing .records or .written
// fails the case); what Save wrote comes out again from another load and save.
TEST_P(IniGoldenTest, LoadsToTheRecordsAndWritesTheBytes)
{
    CTempDir dir;
    const std::string strCase = kCasesDir + "/" + GetParam(), strPath = dir.Join("case.ini");
    const std::string strWritten = FileBytes(strCase + ".written");
    ASSERT_TRUE(WriteFile(strPath, FileBytes(strCase + ".ini")));
    std::vector<IniRecord> content{IniRecord{"", ' ', "Before", "", ""}};  // Load replaces it all
    ASSERT_TRUE(IniFile::Load(strPath, content));
    EXPECT_EQ(Dump(content), FileBytes(strCase + ".records"));
    ASSERT_TRUE(IniFile::Save(strPath, content));
    EXPECT_EQ(FileBytes(strPath), strWritten);
    EXPECT_EQ(ListDir(dir.Path()), Names{"case.ini"});  // no temporary file left
    ASSERT_TRUE(IniFile::Load(strPath, content));
    ASSERT_TRUE(IniFile::Save(strPath, content));
    EXPECT_EQ(FileBytes(strPath), strWritten);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniGoldenTest, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

// Guards against a wrong directory quietly running no case at all.
TEST(IniGoldenCases, AreFound)
{
    EXPECT_GE(CaseNames().size(), 20u) << kCasesDir;
}

// ---------------------------------------------------------------------------
// Operations on one file

class IniFileTest : public ::testing::Test {
protected:
    ~IniFileTest() override { IniFile::SetWriteFailureForTesting(-1); }

    std::string Bytes() { return FileBytes(m_strPath); }
    void Write(const std::string& strContent) { ASSERT_TRUE(WriteFile(m_strPath, strContent)); }

    CTempDir m_dir;
    const std::string m_strPath = m_dir.Join("settings.ini");
};

// SetValue(key, value, section), or DeleteRecord(key, section) when value is null,
// then the whole file (null: not checked after this change).
struct Change {
    const char *pszKey, *pszValue, *pszSection, *pszAfter;
};

TEST_F(IniFileTest, ChangesPutEachRecordInItsPlace)
{
    // LF line ends, a trailing comment and junk: any rewrite would change them.
    const char* const pszUntouched = "[S]\nk=v\n[T]\n# trailing\njunk\n";
    const std::vector<std::pair<const char*, std::vector<Change>>> cases = {
        // New keys go directly under their section's header...
        {"[A]\na=1\n[S]\nold=1\n[T]\nt=1\n",
         {{"new", "2", "S", " [A]\r\n a=1\r\n [S]\r\n new=2\r\n old=1\r\n [T]\r\n t=1\r\n"},
          {"newer", "3", "S", " [A]\r\n a=1\r\n [S]\r\n newer=3\r\n new=2\r\n old=1\r\n [T]\r\n t=1\r\n"}}},
        // ...a new section to the end...
        {"[A]\na=1\n", {{"z", "9", "Z", " [A]\r\n a=1\r\n [Z]\r\n z=9\r\n"}}},
        // ...and without a header, right after the section's first record.
        {"a=1\nc=3\n[S]\n", {{"b", "2", "", " a=1\r\n b=2\r\n c=3\r\n [S]\r\n"}}},
        // A commented-out key changes in place and stays commented out.
        {"[S]\n# about k\n;k=old\nm=1\n", {{"k", "new", "S", " [S]\r\n# about k\r\n;k=new\r\n m=1\r\n"}}},
        // The first of two equal keys changes.
        {"[S]\nk=1\nk=2\n", {{"k", "9", "S", " [S]\r\n k=9\r\n k=2\r\n"}}},
        // Two lines on an empty file; a value with brackets survives later rewrites.
        {"",
         {{"list", "[1,2] and [x]", "S", " [S]\r\n list=[1,2] and [x]\r\n"},
          {"other", "1", "S", nullptr},
          {"later", "2", "S", " [S]\r\n later=2\r\n other=1\r\n list=[1,2] and [x]\r\n"}}},
        // A last line without line feed is kept.
        {"[S]\nfirst=1\nlast=kept", {{"first", "2", "S", " [S]\r\n first=2\r\n last=kept\r\n"}}},
        // A junk line does not move the keys below it.
        {"[A]\na=1\n[S]\nnot a setting\ns=1\n",
         {{"a", "2", "A", nullptr}, {"a", "3", "A", " [A]\r\n a=3\r\n [S]\r\n s=1\r\n"}}},
        // A deleted record takes its comments with it.
        {"[S]\n# about a\na=1\n;c=3\nb=2\n",
         {{"a", nullptr, "S", " [S]\r\n;c=3\r\n b=2\r\n"}, {"c", nullptr, "S", " [S]\r\n b=2\r\n"}}},
        // Deleting a missing record fails and leaves the file byte for byte.
        {pszUntouched,
         {{"missing", nullptr, "S", nullptr}, {"k", nullptr, "T", nullptr}, {"K", nullptr, "S", pszUntouched}}},
    };
    for (const auto& [pszBefore, changes] : cases) {
        SCOPED_TRACE(pszBefore);
        Write(pszBefore);
        for (const Change& ch : changes) {
            const bool bExisted = IniFile::RecordExists(ch.pszKey, ch.pszSection, m_strPath);
            EXPECT_EQ(ch.pszValue ? IniFile::SetValue(ch.pszKey, ch.pszValue, ch.pszSection, m_strPath)
                                  : IniFile::DeleteRecord(ch.pszKey, ch.pszSection, m_strPath),
                      ch.pszValue != nullptr || bExisted)
                << ch.pszKey;
            EXPECT_EQ(IniFile::GetValue(ch.pszKey, ch.pszSection, m_strPath), ch.pszValue ? ch.pszValue : "");
            EXPECT_EQ(ListDir(m_dir.Path()), Names{"settings.ini"});  // no temporary file left
            if (ch.pszAfter != nullptr) {
                EXPECT_EQ(Bytes(), ch.pszAfter);
            }
        }
    }
}

// A file that cannot be read (missing, or a directory where the file should be)
// is neither created nor changed; a save that cannot replace it, finds no
// directory, or is interrupted leaves no file, not even a temporary one.
TEST_F(IniFileTest, UnreadableOrUnwritableFileIsLeftAlone)
{
    const std::string strDirPath = m_dir.Join("dir.ini");
    MakeDirs(strDirPath);
    const std::vector<IniRecord> newFile{IniRecord{"", ' ', "S", "k", "v"}};
    for (const std::string& strPath : {m_strPath, strDirPath}) {
        EXPECT_EQ(IniFile::GetValue("k", "S", strPath), "");
        EXPECT_FALSE(IniFile::SetValue("k", "v", "S", strPath));
        EXPECT_FALSE(IniFile::DeleteRecord("k", "S", strPath));
        std::vector<IniRecord> content = newFile;
        EXPECT_FALSE(IniFile::Load(strPath, content));
        EXPECT_EQ(Dump(content), Dump(newFile));
    }
    EXPECT_FALSE(IniFile::Save(strDirPath, newFile));
    IniFile::SetWriteFailureForTesting(2);
    EXPECT_FALSE(IniFile::Save(m_strPath, newFile));
    EXPECT_FALSE(IniFile::Save(m_dir.Join("no/such/dir.ini"), newFile));
    EXPECT_EQ(ListDir(m_dir.Path()), Names{"dir.ini"});
    EXPECT_TRUE(ListDir(strDirPath).empty());
}

#ifndef _WIN32
// Lines enough that one write takes a moment.
std::string Filler()
{
    std::string str;
    for (int i = 0; i < 300; ++i) {
        str += " filler" + std::to_string(i) + "=" + std::string(60, static_cast<char>('a' + i % 26)) + "\r\n";
    }
    return str;
}

// A child process calling change(0), change(1), ... until it is killed (or a few
// seconds are up); returns once the child runs.
template <typename F>
pid_t SpawnWriter(F change)
{
    int fds[2];
    char ch = 'x';
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool bRunning = ::write(fds[1], &ch, 1) == 1;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; bRunning && std::chrono::steady_clock::now() - start < std::chrono::seconds(3); ++i) {
            change(i);
        }
        ::_exit(0);
    }
    EXPECT_TRUE(pid > 0 && ::read(fds[0], &ch, 1) == 1);
    ::close(fds[0]);
    ::close(fds[1]);
    return pid;
}
#endif

// A writer killed at a random moment, on the real path without test hooks: the file
// is always the old one or the new one, and the next write clears what the kill left.
// The file is rewritten whole in its place: its permissions are kept, and a temporary
// file left over from an earlier writer does not disturb it.
TEST_F(IniFileTest, KilledWriterLeavesTheOldOrTheNewFileWithItsPermissions)
{
#ifdef _WIN32
    GTEST_SKIP() << "forks writer processes";
#else
    const std::string strOld = " [S]\r\n k=old\r\n" + Filler(), strNew = " [S]\r\n k=new value\r\n" + Filler();
    Write(strOld);
    ASSERT_TRUE(WriteFile(m_strPath + ".tmp", std::string(4096, 'x')));
    ASSERT_EQ(0, ::chmod(m_strPath.c_str(), 0600));
    for (int nRound = 0; nRound < 8; ++nRound) {
        const pid_t pid = SpawnWriter([&](int i) {
            IniFile::SetValue("k", i % 2 ? "old" : "new value", "S", m_strPath);
        });
        std::this_thread::sleep_for(std::chrono::microseconds(300 + 700 * nRound));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string strBytes = Bytes();
        EXPECT_TRUE(strBytes == strOld || strBytes == strNew) << "round " << nRound << ", size " << strBytes.size();
    }
    ASSERT_TRUE(IniFile::SetValue("k", "old", "S", m_strPath));
    EXPECT_EQ(Bytes(), strOld);
    Names names = ListDir(m_dir.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Names{"settings.ini", "settings.ini.tmp"}));
    struct stat st {};
    ASSERT_EQ(0, ::stat(m_strPath.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
#endif
}

// Two writers at once may lose each other's change, but a reader must always find a
// whole file: each writer has a temporary file of its own.
TEST_F(IniFileTest, ConcurrentWritersNeverPublishAPartialFile)
{
#ifdef _WIN32
    GTEST_SKIP() << "forks writer processes";
#else
    const std::string strFiller = Filler();
    Write(" [S]\r\n" + strFiller);
    const auto write = [&](const char* pszKey, int i) {
        IniFile::SetValue(pszKey, std::string(1 + i % 7 * 40, 'v'), "S", m_strPath);
    };
    const pid_t pids[] = {SpawnWriter([&](int i) { write("a", i); }), SpawnWriter([&](int i) { write("b", i); })};
    int nPartial = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(400)) {
        const std::string strBytes = Bytes();
        const std::string strFillers = strBytes.substr(std::min(strBytes.find(" filler0="), strBytes.size()));
        nPartial += strFillers != strFiller || strBytes.find('\0') != std::string::npos;
    }
    for (const pid_t pid : pids) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(nPartial, 0);
#endif
}

}  // namespace
