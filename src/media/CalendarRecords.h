// In-memory rows of the Calendar and Event tables. Plain structures with fixed
// UTF-16 text arrays; whoever declares one owns it and zero-fills it before use.
#pragma once

#include <cstdlib>

#include "compat/win32.h"

// Most characters each text field holds; its array has one more unit for the
// terminator.
enum {
    CAL_SUBJECT_MAX = 767,
    CAL_DETAIL_MAX = 3071,
    CAL_CONTACTID_MAX = 3071,
    CAL_CONTACTINFO_MAX = 511,
    CAL_EXT1_MAX = 767,

    EVT_LOCATION_MAX = 767,
    EVT_SUBJECT_MAX = 767,
    EVT_DETAIL_MAX = 3071,
    EVT_CONTACTID_MAX = 1023,
    EVT_CONTACTINFO_MAX = 1023,
    EVT_CONTACTIDDISPLAY_MAX = 1023,
    EVT_CONTACTIDINVALID_MAX = 1023,
    EVT_EXT3_MAX = 767,
};

// One row of table Calendar (its first twelve columns).
struct tagCalendarRecord {
    DWORD dwUIN;
    DWORD dwCalID;
    signed char cCalType;
    DWORD dwShrLevel;
    DWORD dwTimeStamp;
    WCHAR szSubject[CAL_SUBJECT_MAX + 1];
    WCHAR szDetail[CAL_DETAIL_MAX + 1];
    WCHAR szContactID[CAL_CONTACTID_MAX + 1];
    WCHAR szContactInfo[CAL_CONTACTINFO_MAX + 1];
    DWORD dwSponsorID;
    DWORD dwFromCalID;
    WCHAR szExt1[CAL_EXT1_MAX + 1];
};

// One row of table Event (positions 0 to 35, and ext3).
struct tagEventRecord {
    DWORD dwCalID;
    DWORD dwEvtID;
    signed char cEvtType;
    DWORD dwBgnTm;
    DWORD dwEndTm;
    DWORD dwTimeStamp;
    signed char cTipType;
    signed char cMinute;
    WORD wDay;
    signed char cHour;
    signed char cWeek;
    signed char cMonth;
    signed char cLoopType;
    signed char cSynchronized;
    signed char cRevisedState;
    WORD wRemindMinute;
    DWORD dwSponsorID;
    DWORD dwCalOwnerUin;
    WORD wWeekNum;
    WORD wMonthNum;
    DWORD dwYear;
    WORD wCalType;
    signed char cEndType;
    WORD wSwitchTimes;
    signed char cEventRight;
    DWORD dwLoopCalID;
    DWORD dwLoopEventID;
    signed char cEventStatus;
    signed char cValid;
    WCHAR szLocation[EVT_LOCATION_MAX + 1];
    WCHAR szSubject[EVT_SUBJECT_MAX + 1];
    WCHAR szDetail[EVT_DETAIL_MAX + 1];
    WCHAR szContactID[EVT_CONTACTID_MAX + 1];
    WCHAR szContactInfo[EVT_CONTACTINFO_MAX + 1];
    WCHAR szContactIDDisplay[EVT_CONTACTIDDISPLAY_MAX + 1];
    WCHAR szContactIDInvalid[EVT_CONTACTIDINVALID_MAX + 1];
    WCHAR szExt3[EVT_EXT3_MAX + 1];
};

// Releases an array that a list operation of the store media handed out.
template <typename TRecord>
void FreeRecordArray(TRecord* pArray)
{
    std::free(pArray);
}
