// The INI reader and writer: the golden cases in tests/ini, the changes that
// SetValue and DeleteRecord make, interrupted and killed writes, and the UTF-16
// adapters. Every case works on a copy in its own scratch directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "config/IniFile.h"

using namespace testing_support;

namespace {

// True when a temporary file of a write to strPath was left beside it.
bool TempFileLeft(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    const std::string strPrefix = strPath.substr(nSlash + 1) + ".tmp";
    const std::vector<std::string> names = ListDir(strPath.substr(0, nSlash));
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& strName) { return strName.compare(0, strPrefix.size(), strPrefix) == 0; });
}

std::string CasesDir()
{
#ifdef CALSTORE_INI_CASES_DIR
    return CALSTORE_INI_CASES_DIR;
#else
    const std::string strFile = __FILE__;
    return strFile.substr(0, strFile.find_last_of('/')) + "/ini";
#endif
}

// The names of the golden cases: every "<name>.ini" in the cases directory.
std::vector<std::string> CaseNames()
{
    std::vector<std::string> names;
    for (const std::string& strFile : ListDir(CasesDir())) {
        const size_t nDot = strFile.rfind(".ini");
        if (nDot != std::string::npos && nDot > 0 && nDot + 4 == strFile.size()) {
            names.push_back(strFile.substr(0, nDot));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One field of the records dump: backslash, "|" and control bytes escaped, other
// bytes (UTF-8 included) as they are.
std::string Escape(const std::string& str)
{
    static const char s_szHex[] = "0123456789abcdef";
    std::string strOut;
    for (const char ch : str) {
        const unsigned char uch = static_cast<unsigned char>(ch);
        switch (ch) {
        case '\\': strOut += "\\\\"; break;
        case '|': strOut += "\\|"; break;
        case '\n': strOut += "\\n"; break;
        case '\r': strOut += "\\r"; break;
        case '\t': strOut += "\\t"; break;
        default:
            if (uch < 0x20 || uch == 0x7F) {
                strOut += "\\x";
                strOut += s_szHex[uch >> 4];
                strOut += s_szHex[uch & 0xF];
            } else {
                strOut += ch;
            }
        }
    }
    return strOut;
}

// One line per record: 'commentChar'|section|key|value|comments
std::string Dump(const std::vector<IniRecord>& content)
{
    std::string strOut;
    for (const IniRecord& rec : content) {
        strOut += "'" + Escape(std::string(1, rec.commentChar)) + "'|" + Escape(rec.section) + "|" + Escape(rec.key) +
                  "|" + Escape(rec.value) + "|" + Escape(rec.comments) + "\n";
    }
    return strOut;
}

std::string FileBytes(const std::string& strPath)
{
    std::string strContent;
    EXPECT_TRUE(ReadFile(strPath, strContent)) << strPath;
    return strContent;
}

// ---------------------------------------------------------------------------
// Golden cases

class IniGoldenTest : public ::testing::TestWithParam<std::string> {
protected:
    std::string Expected(const char* pszExtension) { return FileBytes(CasesDir() + "/" + GetParam() + pszExtension); }

    CTempDir m_dir;
};

TEST_P(IniGoldenTest, LoadsToTheRecordsAndWritesTheBytes)
{
    const std::string strPath = m_dir.Join("case.ini");
    ASSERT_TRUE(WriteFile(strPath, Expected(".ini")));

    std::vector<IniRecord> content;
    ASSERT_TRUE(IniFile::Load(strPath, content));
    EXPECT_EQ(Dump(content), Expected(".records"));

    ASSERT_TRUE(IniFile::Save(strPath, content));
    EXPECT_EQ(FileBytes(strPath), Expected(".written"));
    EXPECT_FALSE(TempFileLeft(strPath));
}

// What Save wrote is what the next load and save write again.
TEST_P(IniGoldenTest, WrittenBytesSurviveAnotherRewrite)
{
    const std::string strPath = m_dir.Join("case.ini");
    const std::string strWritten = Expected(".written");
    ASSERT_TRUE(WriteFile(strPath, strWritten));

    std::vector<IniRecord> content;
    ASSERT_TRUE(IniFile::Load(strPath, content));
    ASSERT_TRUE(IniFile::Save(strPath, content));
    EXPECT_EQ(FileBytes(strPath), strWritten);
}

// Test names allow letters, digits and "_" only.
std::string CaseTestName(const ::testing::TestParamInfo<std::string>& param)
{
    std::string strName = param.param;
    for (char& ch : strName) {
        if (std::isalnum(static_cast<unsigned char>(ch)) == 0) {
            ch = '_';
        }
    }
    return strName;
}

INSTANTIATE_TEST_SUITE_P(Cases, IniGoldenTest, ::testing::ValuesIn(CaseNames()), CaseTestName);

// Guards against a wrong directory quietly running no case at all.
TEST(IniGoldenCases, EveryInputHasItsExpectations)
{
    const std::vector<std::string> names = CaseNames();
    EXPECT_GE(names.size(), 20u) << CasesDir();
    for (const std::string& strName : names) {
        EXPECT_TRUE(FileExists(CasesDir() + "/" + strName + ".records")) << strName;
        EXPECT_TRUE(FileExists(CasesDir() + "/" + strName + ".written")) << strName;
    }
}

// ---------------------------------------------------------------------------
// Operations on one file

class IniFileTest : public ::testing::Test {
protected:
    IniFileTest() : m_strPath(m_dir.Join("settings.ini")) {}
    ~IniFileTest() override { IniFile::SetWriteFailureForTesting(-1); }

    std::string Bytes() { return FileBytes(m_strPath); }
    void Write(const std::string& strContent) { ASSERT_TRUE(WriteFile(m_strPath, strContent)); }

    CTempDir m_dir;
    const std::string m_strPath;
};

TEST_F(IniFileTest, OneSetValueOnAnEmptyFileWritesTwoLines)
{
    Write("");
    ASSERT_TRUE(IniFile::SetValue("k", "v", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [S]\r\n k=v\r\n");
}

TEST_F(IniFileTest, SetValueOnAMissingFileCreatesNothing)
{
    EXPECT_FALSE(IniFile::SetValue("k", "v", "S", m_strPath));
    EXPECT_TRUE(ListDir(m_dir.Path()).empty());
}

TEST_F(IniFileTest, NewKeyGoesDirectlyUnderItsSectionHeader)
{
    Write("[A]\na=1\n[S]\nold=1\n[T]\nt=1\n");
    ASSERT_TRUE(IniFile::SetValue("new", "2", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [A]\r\n a=1\r\n [S]\r\n new=2\r\n old=1\r\n [T]\r\n t=1\r\n");
    ASSERT_TRUE(IniFile::SetValue("newer", "3", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [A]\r\n a=1\r\n [S]\r\n newer=3\r\n new=2\r\n old=1\r\n [T]\r\n t=1\r\n");
}

TEST_F(IniFileTest, NewSectionGoesToTheEnd)
{
    Write("[A]\na=1\n");
    ASSERT_TRUE(IniFile::SetValue("z", "9", "Z", m_strPath));
    EXPECT_EQ(Bytes(), " [A]\r\n a=1\r\n [Z]\r\n z=9\r\n");
}

// Without a header the new key follows the section's first record.
TEST_F(IniFileTest, NewKeyInASectionWithoutHeaderFollowsItsFirstKey)
{
    Write("a=1\nc=3\n[S]\n");
    ASSERT_TRUE(IniFile::SetValue("b", "2", "", m_strPath));
    EXPECT_EQ(Bytes(), " a=1\r\n b=2\r\n c=3\r\n [S]\r\n");
}

TEST_F(IniFileTest, CommentedOutKeyChangesInPlaceAndStaysCommentedOut)
{
    Write("[S]\n# about k\n;k=old\nm=1\n");
    ASSERT_TRUE(IniFile::SetValue("k", "new", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [S]\r\n# about k\r\n;k=new\r\n m=1\r\n");
    EXPECT_EQ(IniFile::GetValue("k", "S", m_strPath), "new");
}

TEST_F(IniFileTest, SetValueChangesTheFirstOfTwoEqualKeys)
{
    Write("[S]\nk=1\nk=2\n");
    ASSERT_TRUE(IniFile::SetValue("k", "9", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [S]\r\n k=9\r\n k=2\r\n");
}

TEST_F(IniFileTest, ValueWithBracketsSurvivesRewrites)
{
    Write("");
    ASSERT_TRUE(IniFile::SetValue("list", "[1,2] and [x]", "S", m_strPath));
    ASSERT_TRUE(IniFile::SetValue("other", "1", "S", m_strPath));
    ASSERT_TRUE(IniFile::SetValue("later", "2", "S", m_strPath));
    EXPECT_EQ(IniFile::GetValue("list", "S", m_strPath), "[1,2] and [x]");
    EXPECT_EQ(Bytes(), " [S]\r\n later=2\r\n other=1\r\n list=[1,2] and [x]\r\n");
}

TEST_F(IniFileTest, LastLineWithoutLineFeedSurvivesASetValue)
{
    Write("[S]\nfirst=1\nlast=kept");
    ASSERT_TRUE(IniFile::SetValue("first", "2", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [S]\r\n first=2\r\n last=kept\r\n");
}

TEST_F(IniFileTest, JunkLineDoesNotMoveTheKeysBelowIt)
{
    Write("[A]\na=1\n[S]\nnot a setting\ns=1\n");
    ASSERT_TRUE(IniFile::SetValue("a", "2", "A", m_strPath));
    ASSERT_TRUE(IniFile::SetValue("a", "3", "A", m_strPath));
    EXPECT_EQ(IniFile::GetValue("s", "S", m_strPath), "1");
    EXPECT_EQ(Bytes(), " [A]\r\n a=3\r\n [S]\r\n s=1\r\n");
}

TEST_F(IniFileTest, DeleteRecordOfAMissingKeyLeavesTheFileByteForByte)
{
    // LF line ends, a trailing comment and junk: any rewrite would change them.
    const std::string strOld = "[S]\nk=v\n[T]\n# trailing\njunk\n";
    Write(strOld);
    EXPECT_FALSE(IniFile::DeleteRecord("missing", "S", m_strPath));
    EXPECT_FALSE(IniFile::DeleteRecord("k", "T", m_strPath));
    EXPECT_FALSE(IniFile::DeleteRecord("K", "S", m_strPath));
    EXPECT_EQ(Bytes(), strOld);
    EXPECT_FALSE(TempFileLeft(m_strPath));
}

TEST_F(IniFileTest, DeleteRecordTakesTheCommentsAboveWithIt)
{
    Write("[S]\n# about a\na=1\n;c=3\nb=2\n");
    ASSERT_TRUE(IniFile::DeleteRecord("a", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [S]\r\n;c=3\r\n b=2\r\n");
    ASSERT_TRUE(IniFile::DeleteRecord("c", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [S]\r\n b=2\r\n");
}

TEST_F(IniFileTest, LookupsFindCommentedOutRecords)
{
    Write("[S]\n#k=hidden\n;[T]\nt=1\n");
    EXPECT_EQ(IniFile::GetValue("k", "S", m_strPath), "hidden");
    EXPECT_EQ(IniFile::GetValue("t", "T", m_strPath), "1");
    EXPECT_TRUE(IniFile::SectionExists("T", m_strPath));
    EXPECT_TRUE(IniFile::RecordExists("k", "S", m_strPath));
    const std::vector<IniRecord> found = IniFile::GetRecord("k", "S", m_strPath);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].commentChar, '#');
    EXPECT_EQ(found[0].value, "hidden");
}

TEST_F(IniFileTest, LookupsCompareNamesExactly)
{
    Write("[S]\nkey = v\nKey=1\n");
    EXPECT_EQ(IniFile::GetValue("key", "S", m_strPath), "");
    EXPECT_EQ(IniFile::GetValue("key ", "S", m_strPath), " v");
    EXPECT_EQ(IniFile::GetValue("Key", "S", m_strPath), "1");
    EXPECT_EQ(IniFile::GetValue("KEY", "S", m_strPath), "");
    EXPECT_TRUE(IniFile::SectionExists("S", m_strPath));
    EXPECT_FALSE(IniFile::SectionExists("s", m_strPath));
    EXPECT_FALSE(IniFile::RecordExists("Key", "s", m_strPath));
    EXPECT_TRUE(IniFile::GetRecord("KEY", "S", m_strPath).empty());
}

TEST_F(IniFileTest, KeysBeforeTheFirstSectionBelongToTheEmptyName)
{
    Write("a=1\n[S]\n");
    EXPECT_TRUE(IniFile::SectionExists("", m_strPath));
    EXPECT_TRUE(IniFile::RecordExists("a", "", m_strPath));
    EXPECT_EQ(IniFile::GetValue("a", "", m_strPath), "1");
    Write("[S]\na=1\n");
    EXPECT_FALSE(IniFile::SectionExists("", m_strPath));
}

TEST_F(IniFileTest, ExistenceChecksAnswerTrueWhenTheFileCannotBeRead)
{
    // Missing, and a directory where the file should be.
    const std::string strDirPath = m_dir.Join("dir.ini");
    MakeDirs(strDirPath);
    for (const std::string& strPath : {m_strPath, strDirPath}) {
        SCOPED_TRACE(strPath);
        EXPECT_TRUE(IniFile::SectionExists("S", strPath));
        EXPECT_TRUE(IniFile::RecordExists("k", "S", strPath));
        EXPECT_TRUE(IniFile::GetRecord("k", "S", strPath).empty());
        EXPECT_EQ(IniFile::GetValue("k", "S", strPath), "");
        EXPECT_FALSE(IniFile::SetValue("k", "v", "S", strPath));
        EXPECT_FALSE(IniFile::DeleteRecord("k", "S", strPath));
    }
    EXPECT_EQ(ListDir(m_dir.Path()), std::vector<std::string>{"dir.ini"});
    EXPECT_TRUE(ListDir(strDirPath).empty());
}

TEST_F(IniFileTest, FailedLoadLeavesTheContentAlone)
{
    std::vector<IniRecord> content{IniRecord{"", ' ', "S", "k", "v"}};
    EXPECT_FALSE(IniFile::Load(m_strPath, content));
    ASSERT_EQ(content.size(), 1u);
    EXPECT_EQ(content[0].value, "v");

    Write("");
    EXPECT_TRUE(IniFile::Load(m_strPath, content));
    EXPECT_TRUE(content.empty());
}

TEST_F(IniFileTest, CreateMakesAnEmptyFile)
{
    Write("[S]\nk=v\n");
    ASSERT_TRUE(IniFile::Create(m_strPath));
    EXPECT_EQ(Bytes(), "");
}

TEST_F(IniFileTest, SaveThatCannotReplaceTheFileLeavesNoTemporaryFile)
{
    const std::vector<IniRecord> content{IniRecord{"", ' ', "S", "", ""}};
    MakeDirs(m_strPath);
    EXPECT_FALSE(IniFile::Save(m_strPath, content));
    EXPECT_FALSE(TempFileLeft(m_strPath));
    EXPECT_FALSE(IniFile::Save(m_dir.Join("no/such/dir.ini"), content));
}

TEST_F(IniFileTest, LeftoverTemporaryFileDoesNotDisturbTheNextWrite)
{
    Write("[S]\nk=v\n");
    ASSERT_TRUE(WriteFile(m_strPath + ".tmp", std::string(4096, 'x')));
    ASSERT_TRUE(IniFile::SetValue("k", "w", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [S]\r\n k=w\r\n");
}

// ---------------------------------------------------------------------------
// Interrupted writes

TEST_F(IniFileTest, InterruptedSaveLeavesTheOldFileWhole)
{
    const std::string strOld = "[S]\nk=old\n# note\nm=1\n";
    const std::string strNew = " [S]\r\n k=new\r\n# note\r\n m=1\r\n";
    const long long cbNew = static_cast<long long>(strNew.size());
    for (const long long cbFailAfter : {0LL, 1LL, cbNew / 2, cbNew - 1}) {
        SCOPED_TRACE(cbFailAfter);
        Write(strOld);
        std::vector<IniRecord> content;
        ASSERT_TRUE(IniFile::Load(m_strPath, content));
        content[1].value = "new";

        IniFile::SetWriteFailureForTesting(cbFailAfter);
        EXPECT_FALSE(IniFile::Save(m_strPath, content));
        EXPECT_EQ(Bytes(), strOld);
        EXPECT_EQ(ListDir(m_dir.Path()), std::vector<std::string>{"settings.ini"});

        // The failure is for one write only.
        ASSERT_TRUE(IniFile::Save(m_strPath, content));
        EXPECT_EQ(Bytes(), strNew);
        EXPECT_EQ(ListDir(m_dir.Path()), std::vector<std::string>{"settings.ini"});
    }
}

TEST_F(IniFileTest, InterruptedChangesLeaveTheOldFileWhole)
{
    const std::string strOld = "[S]\nk=old\n";
    Write(strOld);
    IniFile::SetWriteFailureForTesting(3);
    EXPECT_FALSE(IniFile::SetValue("k", "new", "S", m_strPath));
    EXPECT_EQ(Bytes(), strOld);
    IniFile::SetWriteFailureForTesting(0);
    EXPECT_FALSE(IniFile::DeleteRecord("k", "S", m_strPath));
    EXPECT_EQ(Bytes(), strOld);
    EXPECT_TRUE(IniFile::SetValue("k", "new", "S", m_strPath));
    EXPECT_EQ(Bytes(), " [S]\r\n k=new\r\n");
}

TEST_F(IniFileTest, InterruptedSaveOfANewFileCreatesNothing)
{
    const std::vector<IniRecord> content{IniRecord{"", ' ', "S", "", ""}};
    IniFile::SetWriteFailureForTesting(2);
    EXPECT_FALSE(IniFile::Save(m_strPath, content));
    EXPECT_TRUE(ListDir(m_dir.Path()).empty());
}

// A writer killed at a random moment: the file is always the old one or the new one.
TEST_F(IniFileTest, KilledWriterLeavesTheOldOrTheNewFile)
{
    // Big enough that one write takes a moment, so that kills land inside some.
    std::string strFiller;
    for (int i = 0; i < 300; ++i) {
        strFiller += " filler" + std::to_string(i) + "=" + std::string(60, static_cast<char>('a' + i % 26)) + "\r\n";
    }
    const std::string strOld = " [S]\r\n k=old\r\n" + strFiller;
    const std::string strNew = " [S]\r\n k=new value\r\n" + strFiller;
    Write(strOld);

    for (int nRound = 0; nRound < 8; ++nRound) {
        SCOPED_TRACE(nRound);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            const char ch = 'x';
            if (::write(fds[1], &ch, 1) != 1) {
                ::_exit(2);
            }
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; std::chrono::steady_clock::now() - start < std::chrono::seconds(2); ++i) {
                IniFile::SetValue("k", i % 2 == 0 ? "new value" : "old", "S", m_strPath);
            }
            ::_exit(0);
        }
        ::close(fds[1]);
        char ch = 0;
        EXPECT_EQ(::read(fds[0], &ch, 1), 1);
        ::close(fds[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(300 + 700 * nRound));
        ::kill(pid, SIGKILL);
        int nStatus = 0;
        ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(nStatus));

        std::vector<IniRecord> content;
        ASSERT_TRUE(IniFile::Load(m_strPath, content));
        EXPECT_EQ(content.size(), 302u);
        const std::string strBytes = Bytes();
        EXPECT_TRUE(strBytes == strOld || strBytes == strNew) << "size " << strBytes.size();
    }
    // A temporary file left by a kill is overwritten and moved by the next write.
    ASSERT_TRUE(IniFile::SetValue("k", "old", "S", m_strPath));
    EXPECT_EQ(Bytes(), strOld);
    EXPECT_FALSE(TempFileLeft(m_strPath));
}

// Two writers at once may lose each other's change, but a reader must always
// find a whole file. Disabled: both writers share the one name "<path>.tmp", so
// one truncates the file that the other is about to rename into place.
TEST_F(IniFileTest, ConcurrentWritersNeverPublishAPartialFile)
{
    std::string strFiller;
    for (int i = 0; i < 200; ++i) {
        strFiller += " filler" + std::to_string(i) + "=" + std::string(50, 'f') + "\r\n";
    }
    Write(" [S]\r\n" + strFiller);

    const auto duration = std::chrono::milliseconds(400);
    pid_t pids[2] = {};
    for (int nWriter = 0; nWriter < 2; ++nWriter) {
        pids[nWriter] = ::fork();
        ASSERT_GE(pids[nWriter], 0);
        if (pids[nWriter] == 0) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; std::chrono::steady_clock::now() - start < duration; ++i) {
                IniFile::SetValue("w" + std::to_string(nWriter), std::string(1 + i % 7 * 40, 'v'), "S", m_strPath);
            }
            ::_exit(0);
        }
    }
    int nPartial = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < duration) {
        const std::string strBytes = Bytes();
        if (strBytes.size() < strFiller.size() || strBytes.find(" filler199=") == std::string::npos ||
            strBytes.compare(strBytes.size() - 2, 2, "\r\n") != 0) {
            ++nPartial;
        }
    }
    for (const pid_t pid : pids) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(nPartial, 0);
    std::vector<IniRecord> content;
    ASSERT_TRUE(IniFile::Load(m_strPath, content));
    EXPECT_GE(content.size(), 201u);
}

// ---------------------------------------------------------------------------
// UTF-16 adapters

WString LoneSurrogate(WCHAR chUnit)
{
    WString str = WTEXT("a");
    str += chUnit;
    str += WTEXT("b");
    return str;
}

class IniAdapterTest : public IniFileTest {
protected:
    IniAdapterTest() : m_strWidePath(Wide(m_strPath)) {}

    // Fills the buffer with a mark, so that an untouched buffer shows.
    void Mark(WCHAR* pszBuffer, size_t cch) { std::fill(pszBuffer, pszBuffer + cch, WCHAR('#')); }
    static bool IsMarked(const WCHAR* pszBuffer, size_t cch)
    {
        return std::all_of(pszBuffer, pszBuffer + cch, [](WCHAR ch) { return ch == WCHAR('#'); });
    }

    const WString m_strWidePath;
};

TEST_F(IniAdapterTest, EnsureIniFileCreatesOnlyAMissingFile)
{
    EXPECT_TRUE(EnsureIniFile(m_strWidePath.c_str()));
    EXPECT_TRUE(FileExists(m_strPath));
    EXPECT_EQ(Bytes(), "");

    const std::string strOld = "[S]\nk=v\n# kept as it is";
    Write(strOld);
    EXPECT_TRUE(EnsureIniFile(m_strWidePath.c_str()));
    EXPECT_EQ(Bytes(), strOld);
    EXPECT_EQ(ListDir(m_dir.Path()), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniAdapterTest, EnsureIniFileReportsSuccessEvenWithoutTheDirectory)
{
    const std::string strPath = m_dir.Join("missing/settings.ini");
    EXPECT_TRUE(EnsureIniFile(Wide(strPath).c_str()));
    EXPECT_FALSE(FileExists(strPath));
    EXPECT_TRUE(ListDir(m_dir.Path()).empty());
}

TEST_F(IniAdapterTest, WrittenTextReadsBackUnchanged)
{
    const std::string strDir = m_dir.Join("Kalender ü日");
    MakeDirs(strDir);
    const WString strPath = Wide(strDir + "/settings.ini");
    ASSERT_TRUE(EnsureIniFile(strPath.c_str()));
    const WString strSection = Wide("Größe");
    const WString strKey = Wide("名前");
    const WString strValue = Wide("日本 😀 [x] äöü");
    ASSERT_TRUE(WriteIniString(strSection.c_str(), strKey.c_str(), strValue.c_str(), strPath.c_str()));
    WCHAR szBuffer[64];
    ASSERT_TRUE(ReadIniString(strSection.c_str(), strKey.c_str(), szBuffer, 64, strPath.c_str()));
    EXPECT_EQ(WString(szBuffer), strValue);
    EXPECT_EQ(FileBytes(strDir + "/settings.ini"),
              " [" + Narrow(strSection) + "]\r\n " + Narrow(strKey) + "=" + Narrow(strValue) + "\r\n");
    ASSERT_TRUE(DeleteIniKey(strSection.c_str(), strKey.c_str(), strPath.c_str()));
    EXPECT_FALSE(DeleteIniKey(strSection.c_str(), strKey.c_str(), strPath.c_str()));
    EXPECT_EQ(FileBytes(strDir + "/settings.ini"), " [" + Narrow(strSection) + "]\r\n");
}

TEST_F(IniAdapterTest, ReadIniStringCutsToTheBufferWithoutSplittingAPair)
{
    // "ab", U+1F600 as a surrogate pair, "c".
    Write("[S]\nshort=abcdef\npair=ab😀c\n");
    WCHAR szBuffer[16];
    ASSERT_TRUE(ReadIniString(WTEXT("S"), WTEXT("short"), szBuffer, 4, m_strWidePath.c_str()));
    EXPECT_EQ(WString(szBuffer), WTEXT("abc"));
    ASSERT_TRUE(ReadIniString(WTEXT("S"), WTEXT("short"), szBuffer, 7, m_strWidePath.c_str()));
    EXPECT_EQ(WString(szBuffer), WTEXT("abcdef"));
    ASSERT_TRUE(ReadIniString(WTEXT("S"), WTEXT("short"), szBuffer, 1, m_strWidePath.c_str()));
    EXPECT_EQ(WString(szBuffer), WTEXT(""));

    ASSERT_TRUE(ReadIniString(WTEXT("S"), WTEXT("pair"), szBuffer, 4, m_strWidePath.c_str()));
    EXPECT_EQ(WString(szBuffer), WTEXT("ab"));
    ASSERT_TRUE(ReadIniString(WTEXT("S"), WTEXT("pair"), szBuffer, 5, m_strWidePath.c_str()));
    EXPECT_EQ(WString(szBuffer), Wide("ab😀"));
    ASSERT_TRUE(ReadIniString(WTEXT("S"), WTEXT("pair"), szBuffer, 16, m_strWidePath.c_str()));
    EXPECT_EQ(WString(szBuffer), Wide("ab😀c"));
}

TEST_F(IniAdapterTest, ReadIniStringLeavesTheBufferForAMissingOrEmptyValue)
{
    Write("[S]\nempty=\n#hidden=\n");
    WCHAR szBuffer[8];
    for (const WCHAR* pszKey : {WTEXT("empty"), WTEXT("hidden"), WTEXT("missing")}) {
        Mark(szBuffer, 8);
        EXPECT_FALSE(ReadIniString(WTEXT("S"), pszKey, szBuffer, 8, m_strWidePath.c_str()));
        EXPECT_TRUE(IsMarked(szBuffer, 8));
    }
    Mark(szBuffer, 8);
    EXPECT_FALSE(ReadIniString(WTEXT("T"), WTEXT("empty"), szBuffer, 8, m_strWidePath.c_str()));
    EXPECT_TRUE(IsMarked(szBuffer, 8));
    const WString strMissing = Wide(m_dir.Join("missing.ini"));
    EXPECT_FALSE(ReadIniString(WTEXT("S"), WTEXT("empty"), szBuffer, 8, strMissing.c_str()));
    EXPECT_TRUE(IsMarked(szBuffer, 8));
}

TEST_F(IniAdapterTest, LoneSurrogateInAnyArgumentRaisesTextError)
{
    const std::string strOld = "[S]\nk=v\n";
    Write(strOld);
    const WCHAR* pszPath = m_strWidePath.c_str();
    WCHAR szBuffer[8];
    for (const WCHAR chUnit : {WCHAR(0xD800), WCHAR(0xDBFF), WCHAR(0xDC00), WCHAR(0xDFFF)}) {
        SCOPED_TRACE(static_cast<int>(chUnit));
        const WString strBad = LoneSurrogate(chUnit);
        const WString strBadPath = m_strWidePath + strBad;
        const WCHAR* pszBad = strBad.c_str();

        EXPECT_THROW(EnsureIniFile(strBadPath.c_str()), CIniTextError);

        Mark(szBuffer, 8);
        EXPECT_THROW(ReadIniString(pszBad, WTEXT("k"), szBuffer, 8, pszPath), CIniTextError);
        EXPECT_THROW(ReadIniString(WTEXT("S"), pszBad, szBuffer, 8, pszPath), CIniTextError);
        EXPECT_THROW(ReadIniString(WTEXT("S"), WTEXT("k"), szBuffer, 8, strBadPath.c_str()), CIniTextError);
        EXPECT_TRUE(IsMarked(szBuffer, 8));

        EXPECT_THROW(WriteIniString(pszBad, WTEXT("k"), WTEXT("w"), pszPath), CIniTextError);
        EXPECT_THROW(WriteIniString(WTEXT("S"), pszBad, WTEXT("w"), pszPath), CIniTextError);
        EXPECT_THROW(WriteIniString(WTEXT("S"), WTEXT("k"), pszBad, pszPath), CIniTextError);
        EXPECT_THROW(WriteIniString(WTEXT("S"), WTEXT("k"), WTEXT("w"), strBadPath.c_str()), CIniTextError);

        EXPECT_THROW(DeleteIniKey(pszBad, WTEXT("k"), pszPath), CIniTextError);
        EXPECT_THROW(DeleteIniKey(WTEXT("S"), pszBad, pszPath), CIniTextError);
        EXPECT_THROW(DeleteIniKey(WTEXT("S"), WTEXT("k"), strBadPath.c_str()), CIniTextError);
    }
    // A reversed pair is two lone surrogates.
    const WCHAR szReversed[] = {WCHAR('x'), WCHAR(0xDE00), WCHAR(0xD83D), 0};
    EXPECT_THROW(WriteIniString(WTEXT("S"), WTEXT("k"), szReversed, pszPath), CIniTextError);

    EXPECT_EQ(Bytes(), strOld);
    EXPECT_EQ(ListDir(m_dir.Path()), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniAdapterTest, StoredTextWithoutAWideFormRaisesTextError)
{
    Write("[S]\nlatin1=caf\xE9\ncut=\xE6\x97\n");
    WCHAR szBuffer[8];
    Mark(szBuffer, 8);
    EXPECT_THROW(ReadIniString(WTEXT("S"), WTEXT("latin1"), szBuffer, 8, m_strWidePath.c_str()), CIniTextError);
    EXPECT_THROW(ReadIniString(WTEXT("S"), WTEXT("cut"), szBuffer, 8, m_strWidePath.c_str()), CIniTextError);
    EXPECT_TRUE(IsMarked(szBuffer, 8));
}

}  // namespace

namespace {

TEST_F(IniFileTest, ARewrittenFileKeepsItsPermissions)
{
    Write("[S]\nk=v\n");
    ASSERT_EQ(0, ::chmod(m_strPath.c_str(), 0600));
    ASSERT_TRUE(IniFile::SetValue("k", "w", "S", m_strPath));
    struct stat st {};
    ASSERT_EQ(0, ::stat(m_strPath.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
}

}  // namespace
