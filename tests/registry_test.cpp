// The registry of the compatibility layer: keys and values through the Win32
// calls, and the one file that holds them (in the text form a peer reads, replaced
// whole, never overwritten when it cannot be read).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "compat/win32.h"

using namespace testing_support;

namespace {

// Every test works on a registry file of its own.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("CALSTORE_REGISTRY", Path().c_str(), 1); }
    void TearDown() override { ::setenv("CALSTORE_REGISTRY", m_strSaved.c_str(), 1); }

    std::string Path() const { return m_dir.Join("registry.reg"); }
    std::string FileText() const
    {
        std::string strText;
        EXPECT_TRUE(ReadFile(Path(), strText));
        for (const std::string& strName : ListDir(m_dir.Path())) {
            EXPECT_EQ(strName.find(".tmp"), std::string::npos) << "a temporary left behind";
        }
        return strText;
    }
    static LONG Create(HKEY hParent, const char* pszSubKey, HKEY* phKey, DWORD* pdwDisposition = nullptr)
    {
        return RegCreateKeyExW(hParent, Wide(pszSubKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                               nullptr, phKey, pdwDisposition);
    }
    static LONG Open(HKEY hParent, const char* pszSubKey, HKEY* phKey)
    {
        return RegOpenKeyExW(hParent, Wide(pszSubKey).c_str(), 0, KEY_READ, phKey);
    }
    // A null name stands for the default value.
    static LONG Set(HKEY hKey, const char* pszName, DWORD dwType, const void* pData, size_t cbData)
    {
        return RegSetValueExW(hKey, pszName != nullptr ? Wide(pszName).c_str() : nullptr, 0, dwType,
                              static_cast<const BYTE*>(pData), DWORD(cbData));
    }
    static LONG SetText(HKEY hKey, const char* pszName, const char* pszValue)
    {
        const WString strValue = Wide(pszValue);
        return Set(hKey, pszName, REG_SZ, strValue.c_str(), (strValue.size() + 1) * sizeof(WCHAR));
    }
    // A value read into a buffer of the size first asked for: REG_SZ as its text,
    // other types as "type N:" and their bytes in hex, a failure as "error N".
    static std::string Read(HKEY hKey, const char* pszName)
    {
        const WString strName = pszName != nullptr ? Wide(pszName) : WString();
        const LPCWSTR pszWide = pszName != nullptr ? strName.c_str() : nullptr;
        DWORD dwType = 0, cbData = 0;
        LONG lResult = RegQueryValueExW(hKey, pszWide, nullptr, &dwType, nullptr, &cbData);
        std::vector<BYTE> data(cbData, 0xCC);
        if (lResult == ERROR_SUCCESS) {
            lResult = RegQueryValueExW(hKey, pszWide, nullptr, &dwType, data.data(), &cbData);
        }
        if (lResult != ERROR_SUCCESS) {
            return "error " + std::to_string(lResult);
        }
        if (dwType == REG_SZ && cbData >= 2 && data[cbData - 1] == 0 && data[cbData - 2] == 0) {
            return Narrow(reinterpret_cast<const WCHAR*>(data.data()));
        }
        std::string strText = "type " + std::to_string(dwType) + ":";
        for (BYTE b : data) {
            strText += {' ', "0123456789abcdef"[b / 16], "0123456789abcdef"[b % 16]};
        }
        return strText;
    }

    CTempDir m_dir;
    const std::string m_strSaved = std::getenv("CALSTORE_REGISTRY") != nullptr ? std::getenv("CALSTORE_REGISTRY") : "";
};

}  // namespace

// Keys are made with their missing levels and named in any case; values keep their
// type and bytes, read back from the file through a new handle, with the file in
// the .reg text form another program reads. Deleting trees is checked through the
// module's unregistration.
TEST_F(RegistryTest, KeysAndValuesRoundTripThroughTheFile)
{
    DWORD dwDisposition = 0;
    HKEY hKey = nullptr, hAgain = nullptr, hRefused = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, "Software\\Brellin\\Values", &hKey, &dwDisposition));
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), dwDisposition);
    ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, "software\\BRELLIN\\values\\", &hAgain, &dwDisposition));
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), dwDisposition);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hAgain));
    const DWORD dwCount = 0xDEADBEEF, dwFive = 5;
    const BYTE blob[] = {0x00, 0xFF, 0x10, 0x00, 0x7F};
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "Name", "Zo\xC3\xAB \xE2\x98\x83 \"quoted\\\""));
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, nullptr, "the default"));
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "Empty", ""));
    EXPECT_EQ(ERROR_SUCCESS, Set(hKey, "Count", REG_DWORD, &dwCount, 4));
    EXPECT_EQ(ERROR_SUCCESS, Set(hKey, "COUNT", REG_DWORD, &dwFive, 4));  // the same name
    EXPECT_EQ(ERROR_SUCCESS, Set(hKey, "Blob", REG_BINARY, blob, sizeof(blob)));
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "lines", "a\r\nb"));
    // Names are lines of the file: one with a line break is refused.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, SetText(hKey, "name\nwith a break", "v"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Create(hKey, "key\nwith a break", &hRefused));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
    EXPECT_EQ(FileText(), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\n"
                          "[HKEY_CURRENT_USER\\Software\\Brellin]\n\n[HKEY_CURRENT_USER\\Software\\Brellin\\Values]\n"
                          "\"Name\"=\"Zo\xC3\xAB \xE2\x98\x83 \\\"quoted\\\\\\\"\"\n@=\"the default\"\n\"Empty\"=\"\"\n"
                          "\"Count\"=dword:00000005\n\"Blob\"=hex:00,ff,10,00,7f\n"
                          "\"lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n");

    ASSERT_EQ(ERROR_SUCCESS, Open(HKEY_CURRENT_USER, "SOFTWARE\\brellin\\values", &hKey));
    EXPECT_EQ("Zo\xC3\xAB \xE2\x98\x83 \"quoted\\\"", Read(hKey, "name"));
    EXPECT_EQ("the default", Read(hKey, nullptr));
    EXPECT_EQ("", Read(hKey, "EMPTY"));
    EXPECT_EQ("type 4: 05 00 00 00", Read(hKey, "count"));
    EXPECT_EQ("type 3: 00 ff 10 00 7f", Read(hKey, "Blob"));
    EXPECT_EQ("a\r\nb", Read(hKey, "lines"));
    EXPECT_EQ("error 2", Read(hKey, "Missing"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
}

// A new text goes to a new file put in the old one's place, so a reader never sees
// half a file; each call reads the file again, so another program's change is seen.
TEST_F(RegistryTest, FileIsReplacedWholeAndReadAgainEachTime)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, "Software\\Shared", &hKey));
    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, "v", "one"));
    const int fdOld = ::open(Path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fdOld, 0);
    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, "v", "two"));
    char buffer[4096];
    const ssize_t cbOld = ::pread(fdOld, buffer, sizeof(buffer), 0);
    ::close(fdOld);
    ASSERT_GT(cbOld, 0);
    EXPECT_NE(std::string::npos, std::string(buffer, size_t(cbOld)).find("\"v\"=\"one\""));
    EXPECT_NE(std::string::npos, FileText().find("\"v\"=\"two\""));
    ASSERT_TRUE(WriteFile(Path(), "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Shared]\r\n"
                                  "\"w\"=\"from another program\"\r\n\"n\"=dword:0000002a\r\n"));
    EXPECT_EQ("from another program", Read(hKey, "w"));
    EXPECT_EQ("type 4: 2a 00 00 00", Read(hKey, "n"));
    EXPECT_EQ("error 2", Read(hKey, "v"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
}

TEST_F(RegistryTest, UnreadableFileIsNeverOverwritten)
{
    const std::string strHeader = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n";
    for (const std::string& strBroken :
         {"this is not a registry\n" + strHeader, strHeader + "@=\"kept\"\nnot a value line\n",
          strHeader + "\"v\"=dword:zz\n", strHeader + "\"v\"=\"no closing quote\n", strHeader + "\"v\"=hex:01,zz\n"}) {
        SCOPED_TRACE(strBroken);
        ASSERT_TRUE(WriteFile(Path(), strBroken));
        HKEY hKey = nullptr;
        if (Open(HKEY_CURRENT_USER, "Software\\Kept", &hKey) == ERROR_SUCCESS) {
            EXPECT_NE(ERROR_SUCCESS, SetText(hKey, "x", "y"));
            EXPECT_NE(ERROR_SUCCESS, RegDeleteTreeW(hKey, nullptr));
            RegCloseKey(hKey);
        }
        EXPECT_NE(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, "Software\\New", &hKey));
        EXPECT_NE(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, WTEXT("Software\\Kept")));
        EXPECT_NE(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, WTEXT("Software\\Kept")));
        EXPECT_EQ(strBroken, FileText());
    }
}
