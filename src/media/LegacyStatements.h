// The statements as the store formatted them before it bound its values: texts
// between quotes with their apostrophes doubled, numbers as signed decimals.
// Nothing in the store runs them any more; they say what each bound statement
// does, and the compatibility tests replay them to compare the rows written.
#pragma once

#include "compat/win32.h"

namespace legacy_sql {

inline constexpr WCHAR s_szSelectCalendar[] = WTEXT("select * from %s where CalID = %d ;");
inline constexpr WCHAR s_szInsertCalendar[] =
    WTEXT("insert into %s(UIN, CalID, CalType, ShrLevel, TmStamp,  subject, detail,ContactID,ContactInfo,SponsorID,")
        WTEXT("FromCalID,ext1,ext2,ext3, ext4,ext5,nums) values('%d','%d', '%d', '%d', '%d', '%s', '%s', '%s', '%s', ")
            WTEXT("'%d', '%d','%s','%s','%s','%d','%d','%d');");
inline constexpr WCHAR s_szUpdateCalendar[] =
    WTEXT("update %s set CalType = %d, ShrLevel = %d, TmStamp = %d,subject = '%s', detail = '%s',ContactID = '%s',")
        WTEXT("ContactInfo = '%s' ,SponsorID = '%d', FromCalID = '%d', ext1='%s' where CalID = %d");
inline constexpr WCHAR s_szSelectAllCalendars[] = WTEXT("select * from %s ;");
inline constexpr WCHAR s_szDeleteCalendar[] = WTEXT("delete from %s where CalID = %d;");
inline constexpr WCHAR s_szDeleteAllCalendars[] = WTEXT("delete from %s ;");

inline constexpr WCHAR s_szSelectEvent[] = WTEXT("select * from %s where CalID = %d and EvtID =%d; ");
inline constexpr WCHAR s_szInsertEvent[] = WTEXT(
    "insert into %s(CalID, EvtID,EvtType,BgnTm, EndTm,TmStamp,TipType,Minute,Hour,Day,Week,Month,LoopType , ")
    WTEXT("subject,detail,Synchronized,RevisedState, RemindMinute,ContactID,ContactInfo,Location,SponsorID,WeekNum,")
        WTEXT(
            "MonthNum,Year,CalType,EndType,SwitchTimes,LoopCalID, LoopEventID,CalOwnerUin,EventRight,ContactIDDisplay,")
            WTEXT(
                "ContactIDInvalid,EventStatus,Valid,ext1,ext2,ext3,ext4,ext5,nums) values('%d', '%d', '%d', '%d', "
                "'%d',")
                WTEXT(
                    "'%d', '%d', '%d', '%d', '%d','%d','%d', '%d', '%s', '%s',  '%d', '%d', '%d','%s', '%s', "
                    "'%s','%d','%d', ")
                    WTEXT(
                        "'%d', '%d', '%d', '%d', '%d', '%d', '%d','%d','%d','%s', '%s', '%d', '%d', '%s', '%s', "
                        "'%s','%d', '%d', ") WTEXT("'%d');");
inline constexpr WCHAR s_szUpdateEvent[] = WTEXT(
    "update %s set EvtType = %d ,BgnTm = %d,EndTm = %d,TmStamp= %d,TipType= %d,Minute = %d,Hour= %d,Day = %d,")
    WTEXT("Week= %d,Month= %d,LoopType= %d,subject= '%s',detail= '%s',Synchronized= %d,RevisedState = %d,")
        WTEXT("RemindMinute= %d,ContactID= '%s',ContactInfo= '%s',Location= '%s',SponsorID= %d,WeekNum= %d,") WTEXT(
            "MonthNum= %d,Year= %d,CalType= %d, EndType= %d, SwitchTimes= %d ,LoopCalID= %d,LoopEventID= %d,")
            WTEXT("CalOwnerUin = %d,EventRight = %d,ContactIDDisplay = '%s',ContactIDInvalid = '%s',EventStatus = %d ,")
                WTEXT("Valid = %d  where CalID = %d and EvtID = %d ");
inline constexpr WCHAR s_szSelectCalendarEvents[] = WTEXT("select * from %s where CalID = %d ; ");
inline constexpr WCHAR s_szSelectByField[] = WTEXT("select * from %s where CalID = %d and %s = %s;");
inline constexpr WCHAR s_szSelectByTwoFields[] = WTEXT("select * from %s where CalID = %d and %s = %s and %s = %s;");
inline constexpr WCHAR s_szSelectPeriod[] = WTEXT("select * from %s where CalID = %d and (not ( BgnTm > %d or EndTm < %d ));");
inline constexpr WCHAR s_szDeleteEvent[] = WTEXT("delete from %s where CalID = %d and EvtID = %d;");
inline constexpr WCHAR s_szDeleteExceptions[] = WTEXT("delete from %s where EvtType=1 and LoopCalID=%d and LoopEventID=%d");
inline constexpr WCHAR s_szDeleteAllEvents[] = WTEXT("delete from %s ;");
inline constexpr WCHAR s_szDeleteCalendarEvents[] = WTEXT("delete from %s where CalID = %d;");
inline constexpr WCHAR s_szSelectByExternalID[] = WTEXT("select * from %s where ext3='%s'");

}  // namespace legacy_sql
