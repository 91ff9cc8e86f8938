// Calendar rows: save, read, update and delete.
#include "media/VxCalStoreMedia.h"

HRESULT CVxCalStoreMedia::SaveCalendar(const tagCalendarRecord*, DWORD) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::GetCalendar(DWORD, tagCalendarRecord*) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::GetAllCalendar(tagCalendarRecord**, int*) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::UpdateCalendar(const tagCalendarRecord*) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::DelCalendar(DWORD, DWORD) { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::DelAllCalendar() { return E_NOTIMPL; }
