// Event rows: save, read, update, delete, list, and the lookups.
#include "media/VxCalStoreMedia.h"

HRESULT CVxCalStoreMedia::SaveCalEvent(const tagEventRecord*, DWORD) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::GetCalEvent(DWORD, DWORD, tagEventRecord*) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::DelCalEvent(DWORD, DWORD, DWORD) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::GetAllCalEvent(DWORD, tagEventRecord**, int*) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::DelLoopException(DWORD, DWORD) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::UpdateCalEvent(const tagEventRecord*) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::QueryCalEvent(DWORD, LPCWSTR, LPCWSTR, tagEventRecord**, int*) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::QueryCalEventEx(DWORD, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, tagEventRecord**, int*)
{
    return E_NOTIMPL;
}
HRESULT CVxCalStoreMedia::GetPeriodEvent(DWORD, DWORD, DWORD, tagEventRecord**, int*) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::DelAllEvent() { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::IsOutlookIDExist(LPCWSTR) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::DelAllEventofCalendar(DWORD) { return E_NOTIMPL; }
