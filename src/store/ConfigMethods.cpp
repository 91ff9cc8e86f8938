// The settings methods of IVxCalStoreConfig.
#include "store/VxCalStoreData.h"

HRESULT CVxCalStoreData::InitializeConfig(ULONG) { return E_NOTIMPL; }
HRESULT CVxCalStoreData::AddString(BSTR, BSTR, BSTR, BYTE) { return E_NOTIMPL; }
HRESULT CVxCalStoreData::GetString(BSTR, BSTR, BSTR*) { return E_NOTIMPL; }
HRESULT CVxCalStoreData::AddDWord(BSTR, BSTR, ULONG, BYTE) { return E_NOTIMPL; }
HRESULT CVxCalStoreData::GetDWord(BSTR, BSTR, ULONG*) { return E_NOTIMPL; }
HRESULT CVxCalStoreData::DeleteConfigItem(BSTR, BSTR) { return E_NOTIMPL; }
void CVxCalStoreData::ResetConfigMedia() {}
