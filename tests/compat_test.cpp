// The Win32/COM compatibility layer and our UTF-16 helpers, checked against the
// behaviour that component code written for Windows relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"

using namespace testing_support;

namespace {

// "hé😀": one-, two- and four-byte sequences; the last one is a surrogate pair in UTF-16.
const char kUtf8Sample[] = "h\xC3\xA9\xF0\x9F\x98\x80";
const WCHAR kUtf16Sample[] = u"h\u00E9\U0001F600";

// The call fails and leaves this last error.
#define EXPECT_FAILS_WITH(call, dwError)           \
    do {                                           \
        SetLastError(ERROR_SUCCESS);               \
        EXPECT_FALSE(call);                        \
        EXPECT_EQ(GetLastError(), DWORD(dwError)); \
    } while (false)

}  // namespace

// A DWORD byte count before the text and a terminator after it, whatever the source:
// a string, an empty one, none (zeros), embedded zeros, the prefix of a longer one.
TEST(CompatBstr, KeepsWindowsLayout)
{
    const WCHAR szEmbedded[] = {u'a', 0, u'b'};
    const std::vector<std::pair<BSTR, WString>> made = {{SysAllocString(u"abc"), u"abc"},
                                                        {SysAllocString(u""), u""},
                                                        {SysAllocStringLen(nullptr, 4), WString(4, 0)},
                                                        {SysAllocStringLen(szEmbedded, 3), WString(szEmbedded, 3)},
                                                        {SysAllocStringLen(u"abcdef", 2), u"ab"}};
    for (const auto& [bstr, strExpected] : made) {
        SCOPED_TRACE(Narrow(strExpected) + ", " + std::to_string(strExpected.size()) + " units");
        ASSERT_NE(bstr, nullptr);
        DWORD cbStored = 0;
        std::memcpy(&cbStored, reinterpret_cast<const char*>(bstr) - sizeof(DWORD), sizeof(DWORD));
        EXPECT_EQ(cbStored, 2 * strExpected.size());
        EXPECT_EQ(SysStringLen(bstr), strExpected.size());
        EXPECT_EQ(SysStringByteLen(bstr), 2 * strExpected.size());
        EXPECT_EQ(WString(bstr, strExpected.size() + 1), strExpected + WCHAR(0));
        SysFreeString(bstr);
    }
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

// The code-page calls size, copy, and refuse or replace invalid input; our own UTF
// helpers refuse it outright, leaving nothing behind.
TEST(CompatCodePage, SizesCopiesAndInvalidInput)
{
    for (UINT uCodePage : {UINT(CP_ACP), UINT(CP_UTF8)}) {
        SCOPED_TRACE(uCodePage);
        EXPECT_EQ(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, -1, nullptr, 0), 5);
        WCHAR szWide[8] = {};
        ASSERT_EQ(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, -1, szWide, 5), 5);
        EXPECT_EQ(WStrCmp(szWide, kUtf16Sample), 0);
        EXPECT_FAILS_WITH(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, -1, szWide, 4), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, -1, nullptr, 0, nullptr, nullptr), 8);
        char szNarrow[16] = {};
        ASSERT_EQ(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, 4, szNarrow, 7, nullptr, nullptr), 7);
        EXPECT_STREQ(szNarrow, kUtf8Sample);
        EXPECT_FAILS_WITH(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, -1, szNarrow, 7, nullptr, nullptr),
                          ERROR_INSUFFICIENT_BUFFER);
    }
    // A stray byte, an overlong form, an encoded surrogate and a truncated sequence.
    WCHAR szWide[16];
    for (const char* pszBad : {"a\xFF\x62", "\xC0\xAF", "\xED\xA0\x80", "x\xE6\x97"}) {
        EXPECT_FAILS_WITH(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszBad, -1, szWide, 16),
                          ERROR_NO_UNICODE_TRANSLATION);
    }
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xFF\x62", -1, szWide, 16), 4);
    EXPECT_EQ(WString(szWide, 4), WString(u"a\uFFFDb", 4));

    const WCHAR szLone[] = {u'a', 0xD800, u'b', 0};
    char szNarrow[16] = {};
    EXPECT_FAILS_WITH(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, szLone, -1, szNarrow, 16, nullptr, nullptr),
                      ERROR_NO_UNICODE_TRANSLATION);
    BOOL bUsedDefault = FALSE;
    EXPECT_GT(WideCharToMultiByte(CP_ACP, 0, szLone, -1, szNarrow, 16, nullptr, &bUsedDefault), 0);
    EXPECT_TRUE(bUsedDefault);
    EXPECT_STREQ(szNarrow, "a\xEF\xBF\xBD\x62");

    std::string strNarrow;
    ASSERT_TRUE(WStrToUtf8(kUtf16Sample, strNarrow));
    EXPECT_EQ(strNarrow, kUtf8Sample);
    WString strWide;
    // A high surrogate at the end, a low one first, a reversed pair.
    const WCHAR szHighAtEnd[] = {u'a', 0xD83D, 0}, szLowFirst[] = {0xDE00, u'a', 0}, szReversed[] = {0xDE00, 0xD83D, 0};
    for (const WCHAR* psz : {szHighAtEnd, szLowFirst, szReversed}) {
        strNarrow = "junk";
        EXPECT_FALSE(WStrToUtf8(psz, strNarrow));
        EXPECT_TRUE(strNarrow.empty());
    }
    for (const char* psz : {"\x80", "\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ok\xF8"}) {
        strWide = u"junk";
        EXPECT_FALSE(WStrFromUtf8(psz, strWide)) << psz;
        EXPECT_TRUE(strWide.empty());
    }
}

// What the recovery backup relies on: a copy never replaces what it must not and
// never leaves the tail of a longer file; names beyond ASCII work.
TEST(CompatFiles, CreateDirectoryCopyAndDelete)
{
    CTempDir dir;
    const auto contents = [](const std::string& strPath) {
        std::string strContent;
        EXPECT_TRUE(ReadFile(strPath, strContent)) << strPath;
        return strContent;
    };
    const std::string strSubdir = dir.Join("日历 Ünïcode"), strFile = strSubdir + "/événement😀.txt";
    EXPECT_TRUE(CreateDirectoryW(Wide(strSubdir).c_str(), nullptr));
    EXPECT_FAILS_WITH(CreateDirectoryW(Wide(strSubdir).c_str(), nullptr), ERROR_ALREADY_EXISTS);

    const WString strSrc = Wide(dir.Join("src.bin")), strDst = Wide(strFile);
    std::string strFirst(200000, '\0');  // larger than one copy chunk, with zero bytes in it
    for (size_t i = 0; i < strFirst.size(); ++i) {
        strFirst[i] = static_cast<char>(i * 7);
    }
    ASSERT_TRUE(WriteFile(dir.Join("src.bin"), strFirst));
    ASSERT_TRUE(CopyFileW(strSrc.c_str(), strDst.c_str(), TRUE));
    EXPECT_TRUE(contents(strFile) == strFirst);
    ASSERT_TRUE(WriteFile(dir.Join("src.bin"), "second"));
    EXPECT_FAILS_WITH(CopyFileW(strSrc.c_str(), strDst.c_str(), TRUE), ERROR_FILE_EXISTS);
    EXPECT_EQ(FileSize(strFile), static_cast<long long>(strFirst.size()));
    EXPECT_TRUE(CopyFileW(strSrc.c_str(), strDst.c_str(), FALSE));
    EXPECT_EQ(contents(strFile), "second");
    EXPECT_FAILS_WITH(CopyFileW(Wide(dir.Join("absent")).c_str(), strDst.c_str(), FALSE), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(DeleteFileW(strDst.c_str()));
    EXPECT_FAILS_WITH(DeleteFileW(strDst.c_str()), ERROR_FILE_NOT_FOUND);
}

TEST(CompatWStr, LengthCompareCopyAndNumbers)
{
    EXPECT_EQ(WStrLen(nullptr), 0u);
    EXPECT_EQ(WStrLen(kUtf16Sample), 4u);
    // Null compares as empty; code units compare unsigned, so U+FFFF sorts after ASCII.
    const std::tuple<const WCHAR*, const WCHAR*, int> compares[] = {
        {nullptr, u"", 0}, {nullptr, u"a", -1}, {u"abc", u"abc", 0}, {u"abc", u"abd", -1}, {u"ab", u"abc", -1},
        {u"b", u"abc", 1}, {u"\uFFFF", u"z", 1}};
    for (const auto& [pszA, pszB, nSign] : compares) {
        const int nResult = WStrCmp(pszA, pszB);
        EXPECT_EQ((nResult > 0) - (nResult < 0), nSign) << Narrow(pszA) << " : " << Narrow(pszB);
    }
    // Both cut before a pair that does not fit whole.
    WCHAR szDest[16];
    const WCHAR szPair[] = u"ab\U0001F600c";
    for (const auto& [cchMax, cchExpected] : {std::pair<size_t, size_t>{10, 5}, {4, 4}, {3, 2}, {2, 2}, {0, 0}}) {
        SCOPED_TRACE(cchMax);
        EXPECT_EQ(WStrBoundedLength(szPair, 5, cchMax), cchExpected);
        EXPECT_EQ(WStrCopyN(szDest, cchMax + 1, szPair), cchExpected);
        EXPECT_EQ(WString(szDest), WString(szPair, cchExpected));
    }
    szDest[0] = u'#';
    EXPECT_EQ(WStrCopyN(szDest, 0, u"abc"), 0u);
    EXPECT_EQ(szDest[0], u'#');
    EXPECT_EQ(WStrCopyN(szDest, 8, nullptr), 0u);
    EXPECT_EQ(szDest[0], 0);

    const std::pair<const WCHAR*, int32_t> numbers[] = {{u"2147483647", INT_MAX}, {u"-2147483648", INT_MIN},
                                                        {u"+8", 8},  {u"- 5", 0}, {u"4294967295", -1},
                                                        {u"  \t42abc", 42}, {u"abc", 0}, {nullptr, 0}};
    for (const auto& [psz, nExpected] : numbers) {
        EXPECT_EQ(WStrToInt32(psz), nExpected) << Narrow(psz);
    }
}

// The statement formatter: widths, padding, the extremes of int, null text; the
// bounded form never writes past its size and returns the length needed.
TEST(CompatWStr, Format)
{
    const auto fmt = [](const WCHAR* pszFormat, auto... args) { return Narrow(WStrFormatString(pszFormat, args...)); };
    EXPECT_EQ(fmt(u"%d|%d|%d", -7, INT_MIN, INT_MAX), "-7|-2147483648|2147483647");
    EXPECT_EQ(fmt(u"%05d|%5d|%-5d|%03d|%2d", -42, -42, -42, 7, 12345), "-0042|  -42|-42  |007|12345");
    EXPECT_EQ(fmt(u"%u|%x|%X|%08X", 4294967295u, 0xBEEFu, 255u, 0xABCu), "4294967295|beef|FF|00000ABC");
    EXPECT_EQ(fmt(u"%p", reinterpret_cast<void*>(uintptr_t(0xABCDEF))),
              std::string(2 * sizeof(void*) - 6, '0') + "ABCDEF");
    EXPECT_EQ(fmt(u"[%s][%4s][%-4s][%s]", static_cast<const WCHAR*>(nullptr), u"ab", u"ab", u"日历\U0001F600"),
              "[(null)][  ab][ab  ][日历😀]");
    EXPECT_EQ(fmt(u"100%% %q %d%%", 5), "100% %q 5%");  // an unknown conversion consumes no argument
    EXPECT_EQ(fmt(u"50%"), "50%");
    const WString strLong(300, u'x');
    EXPECT_EQ(WStrFormatString(u"%s|%-400d|", strLong.c_str(), -1), strLong + u"|-1" + WString(398, u' ') + u"|");

    WCHAR szBuffer[10];
    std::fill_n(szBuffer, 10, u'#');
    EXPECT_EQ(WStrFormat(szBuffer, 5, u"%d-%s", 123456, u"tail"), 11);
    EXPECT_EQ(WString(szBuffer, 10), WString(u"1234\0#####", 10));
    EXPECT_EQ(WStrFormat(szBuffer, 10, u"%d", 123), 3);
    EXPECT_EQ(WString(szBuffer), u"123");
    EXPECT_EQ(WStrFormat(nullptr, 0, u"%d", 12345), 5);
}
