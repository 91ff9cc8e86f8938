// The configuration media: named settings of one account in its
// "CalendarConfig.ini". A namespace is a section, an item a key.
#pragma once

#include "compat/win32.h"

// The configuration media's operations, in their fixed slot order.
class tagVxCalStoreConfigMedia {
public:
    virtual HRESULT Reserved0(DWORD dwFirst, DWORD dwSecond) = 0;                                              // 0
    virtual HRESULT AddString(WString strNameSpace, WString strItem, WString strValue, BYTE cReportType) = 0;  // 1
    virtual HRESULT GetString(WString strNameSpace, WString strItem, BSTR* pbsValue) = 0;                      // 2
    virtual HRESULT AddDWord(WString strNameSpace, WString strItem, DWORD dwValue, BYTE cReportType) = 0;      // 3
    virtual HRESULT GetDWord(WString strNameSpace, WString strItem, DWORD* pdwValue) = 0;                      // 4
    virtual HRESULT Initialize(DWORD dwUIN) = 0;                                                               // 5
    virtual HRESULT Reserved6() = 0;                                                                           // 6
    virtual HRESULT DeleteConfigItem(WString strNameSpace, WString strItem) = 0;                               // 7

protected:
    // Owners destroy the media through its concrete type.
    ~tagVxCalStoreConfigMedia() = default;
};

class CVxCalConfigMedia final : public tagVxCalStoreConfigMedia {
public:
    // The longest value, in UTF-16 units, that a read returns; longer ones are cut.
    enum { VALUE_CHARS_MAX = 511 };

    HRESULT Reserved0(DWORD dwFirst, DWORD dwSecond) override;

    // Every failure is E_FAIL: the file unreadable or unwritable, a missing item,
    // an empty stored value (it reads as missing), a text without a narrow form,
    // and names or values the file could not give back as written (an empty item;
    // a line break anywhere; "]" or "=" in a namespace; "=" or "[" in an item, or
    // one starting with "#", ";" or a blank; a value ending in a blank).
    HRESULT AddString(WString strNameSpace, WString strItem, WString strValue, BYTE cReportType) override;
    HRESULT GetString(WString strNameSpace, WString strItem, BSTR* pbsValue) override;
    // Numbers are stored as signed decimals: 4294967295 is written as -1.
    HRESULT AddDWord(WString strNameSpace, WString strItem, DWORD dwValue, BYTE cReportType) override;
    HRESULT GetDWord(WString strNameSpace, WString strItem, DWORD* pdwValue) override;

    // Points the media at the account's settings file and creates it empty when it
    // is missing (the account directory must exist).
    HRESULT Initialize(DWORD dwUIN) override;

    HRESULT Reserved6() override;
    HRESULT DeleteConfigItem(WString strNameSpace, WString strItem) override;

    const WString& Path() const { return m_strPath; }

    // Why the last failed call failed when the settings file itself failed: its
    // path and what the system said ("disk full", "permission denied", ...). Empty
    // for a refused name or value and for a setting that is not there.
    const WString& GetLastFailure() const { return m_strFailure; }

private:
    // Reads a value into a buffer of VALUE_CHARS_MAX + 1 units; false when missing.
    bool ReadValue(const WString& strNameSpace, const WString& strItem, WCHAR* pszBuffer);

    // Records the cause of a failed read or write of the file from errno, which the
    // caller cleared before the call; nothing recorded means "no such setting".
    bool NoteFileFailure(bool bOk, bool bWrite);

    WString m_strPath;
    WString m_strFailure;
};
