// The Win32/COM compatibility layer and our UTF-16 helpers, checked against the
// behaviour that component code written for Windows relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
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
        EXPECT_EQ(WString(bstr, strExpected.size() + 1), strExpected + WCHAR(0));
        SysFreeString(bstr);
    }
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

// The code-page calls size, copy, and refuse or replace invalid input; our own UTF-8
// writer refuses it outright, leaving nothing behind.
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
    // A high surrogate at the end, a low one first, a reversed pair.
    const WCHAR szHighAtEnd[] = {u'a', 0xD83D, 0}, szLowFirst[] = {0xDE00, u'a', 0}, szReversed[] = {0xDE00, 0xD83D, 0};
    for (const WCHAR* psz : {szHighAtEnd, szLowFirst, szReversed}) {
        strNarrow = "junk";
        EXPECT_FALSE(WStrToUtf8(psz, strNarrow));
        EXPECT_TRUE(strNarrow.empty());
    }
}

// The statement formatter: widths, padding, the extremes of int, null text, any
// length; the bounded form never writes past its size and returns the length needed.
TEST(CompatWStr, Format)
{
    const auto fmt = [](const WCHAR* pszFormat, auto... args) { return Narrow(WStrFormatString(pszFormat, args...)); };
    EXPECT_EQ(fmt(u"%d|%d|%d", -7, INT_MIN, INT_MAX), "-7|-2147483648|2147483647");
    EXPECT_EQ(fmt(u"%05d|%5d|%-5d|%03d|%2d", -42, -42, -42, 7, 12345), "-0042|  -42|-42  |007|12345");
    EXPECT_EQ(fmt(u"[%s][%4s][%-4s][%s]", static_cast<const WCHAR*>(nullptr), u"ab", u"ab", u"日历\U0001F600"),
              "[(null)][  ab][ab  ][日历😀]");
    const WString strLong(300, u'x');
    EXPECT_EQ(WStrFormatString(u"%s|%-400d|", strLong.c_str(), -1), strLong + u"|-1" + WString(398, u' ') + u"|");

    WCHAR szBuffer[10];
    std::fill_n(szBuffer, 10, u'#');
    EXPECT_EQ(WStrFormat(szBuffer, 5, u"%d-%s", 123456, u"tail"), 11);
    EXPECT_EQ(WString(szBuffer, 10), WString(u"1234\0#####", 10));
    EXPECT_EQ(WStrFormat(nullptr, 0, u"%d", 12345), 5);
}
