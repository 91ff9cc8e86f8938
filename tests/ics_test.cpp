// The iCalendar reader of the command-line host: the files in tests/ics (time zones,
// repeating events, texts, vendor exports, broken files), read in a fixed local zone
// unless a case says otherwise. The writer is checked through calstore's export.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "CivilTime.h"
#include "IcsFile.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

std::string Case(const std::string& strName) { return CALSTORE_ICS_CASES_DIR "/" + strName; }

// Central European rules written out, so that no tz database is needed for local time.
const char kBerlinTz[] = "CET-1CEST,M3.5.0,M10.5.0/3";
const char kNewYorkTz[] = "EST5EDT,M3.2.0,M11.1.0";

int64_t Utc(int nYear, int nMonth, int nDay, int nHour = 0, int nMinute = 0, int nSecond = 0)
{
    return CivilToSeconds(CCivil{nYear, nMonth, nDay, nHour, nMinute, nSecond});
}

const int64_t kHorizon = Utc(2030, 1, 1);

void SetTz(const char* pszTz)
{
    ::setenv("TZ", pszTz, 1);
    ::tzset();
}

CIcsOptions Options(int64_t llHorizon = kHorizon)
{
    CIcsOptions options;
    options.llHorizon = llHorizon;
    return options;
}

// A file that must be read.
CIcsImport Read(const std::string& strPath, const CIcsOptions& options = Options())
{
    CIcsImport result;
    std::string strError;
    EXPECT_TRUE(ReadIcsFile(strPath, options, result, strError)) << strPath << ": " << strError;
    return result;
}

// Every field of an event on one line: UID, start-end, "day" for an all-day event,
// "floating" for a floating one, "#" and the occurrence it is, summary, "@"
// location, "|" description.
std::string Brief(const CIcsEvent& ev)
{
    const CIcsTexts& texts = *ev.pTexts;
    return ev.strUid + " " + std::to_string(ev.llBegin) + "-" + std::to_string(ev.llEnd) +
           (ev.eKind == ETimeKind::DAY        ? " day"
            : ev.eKind == ETimeKind::FLOATING ? " floating"
                                              : "") +
           (ev.strRecurrenceId.empty() ? "" : " #" + ev.strRecurrenceId) + " " + texts.strSummary + " @" +
           texts.strLocation + (texts.strDescription.empty() ? "" : " | " + texts.strDescription);
}

// An import as text: the calendar's name in brackets when the file gives one, then the events, one a line.
std::string Text(const CIcsImport& result)
{
    std::string strText = result.strCalendarName.empty() ? "" : "[" + result.strCalendarName + "]\n";
    for (const CIcsEvent& ev : result.events) {
        strText += Brief(ev) + "\n";
    }
    return strText;
}

// The zone of the process is this test's own: every case sets the one it reads in.
class IcsTest : public ::testing::Test {
protected:
    void SetUp() override { SetTz(kBerlinTz); }
};

#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

TEST_F(IcsTest, ReadsEventsOfEveryKind)
{
    const struct {
        const char* pszFile;
        const char* pszTz;
        std::string strText;
    } cases[] = {
        // LF line ends, an empty DESCRIPTION, an alarm; floating 09:00 EDT (calstore checks another zone).
        {"simple.ics", kNewYorkTz,
         "[Team Calendar]\nsimple-1@example.com 1710248400-1710253800 floating Planning meeting @Room 4\n"},
        {"all_day.ics", kBerlinTz,
         "day-1 1710457200-1710543600 day Holiday @\n"       // 2024-03-15 00:00 CET
         "day-2 1711666800-1712008800 day Easter trip @\n"   // 03-29 to 04-02 00:00 CEST, across the clock change
         "day-3 1714514400-1714600800 day Labour day @\n"},  // no DTEND: one day
        {"time_zones.ics", kBerlinTz,
         "ny-winter 1705330800-1705334400 New York in winter @\n"        // 2024-01-15 15:00 UTC (EST)
         "ny-summer 1721052000-1721055600 New York in summer @\n"        // 2024-07-15 14:00 UTC (EDT)
         "berlin-winter 1705309200-1705314600 Berlin in winter @\n"      // 2024-01-15 09:00 UTC (CET)
         "berlin-summer 1721030400-1721052000 Berlin to New York @\n"},  // 08:00 UTC (CEST), ends in the other zone
        // Well-known zones without a VTIMEZONE: 2024-06-01 09:00 JST, 2024-07-15 10:00 CEST.
        {"builtin_zone.ics", kBerlinTz, "tokyo 1717200000-1717203600 Tokyo @\nberlin 1721030400-1721034000 Berlin @\n"},
        // The file's own definition (+0300) wins over the zone of the same name.
        {"zone_precedence.ics", kBerlinTz, "own-zone 1721026800-1721026800 The file's zone, not the database's @\n"},
        // UTC times do not depend on the local zone.
        {"utc.ics", kNewYorkTz, "utc-1 1718893800-1718897400 Call with Sydney @\n"},
        // Six weeks: one removed by EXDATE, one moved, one renamed (an override replaces the whole occurrence),
        // one cancelled; the wall clock kept over the clock change; file order, not time order.
        {"weekly.ics", kBerlinTz,
         "weekly-1@example.com 1708959600-1708963200 #20240226T150000Z Standup @Room 1\n"  // 2024-02-26 10:00 EST
         "weekly-1@example.com 1709665200-1709668800 #20240304T150000Z Standup @Room 1\n"  // 03-04 moved to 03-05 14:00
         "weekly-1@example.com 1710770400-1710774000 #20240318T140000Z Standup with a guest speaker @\n"  // 03-18 10:00
                                                                                                          // EDT
         "weekly-1@example.com 1711980000-1711983600 #20240401T140000Z Standup @Room 1\n"  // 04-01; 03-25 was cancelled
         "after-the-series 1704110400-1704114000 Listed after the series @\n"},
        // A UNTIL in UTC for local times: the last start, 09:00 CET, is the UNTIL itself.
        {"floating_until.ics", kBerlinTz,
         "floating-until 1704441600-1704445200 floating #20240105T090000 Local times, UNTIL in UTC @\n"
         "floating-until 1705046400-1705050000 floating #20240112T090000 Local times, UNTIL in UTC @\n"
         "floating-until 1705651200-1705654800 floating #20240119T090000 Local times, UNTIL in UTC @\n"
         "floating-until 1706256000-1706259600 floating #20240126T090000 Local times, UNTIL in UTC @\n"},
        // An RDATE on 08-15, September removed; a yearly all-day event until 2026-03-29, the day of the
        // clock change that year: local midnight to midnight, 23 hours.
        {"rdate.ics", kBerlinTz,
         "monthly-1 1722506400-1722510000 #20240801T100000Z Monthly review @\n"
         "monthly-1 1723716000-1723719600 #20240815T100000Z Monthly review @\n"
         "monthly-1 1727776800-1727780400 #20241001T100000Z Monthly review @\n"
         "yearly-day 1711666800-1711753200 day #20240329 Anniversary @\n"
         "yearly-day 1743202800-1743289200 day #20250329 Anniversary @\n"
         "yearly-day 1774738800-1774821600 day #20260329 Anniversary @\n"},
        // DURATION: 90 minutes; three days from a date; three days on the wall clock across the clock change
        // (2024-03-29 12:00 CET to 04-01 12:00 CEST); no end at all.
        {"duration.ics", kBerlinTz,
         "dur-1 1718010000-1718015400 Ninety minutes @\n"
         "dur-2 1717970400-1718229600 day Three days @\n"
         "dur-3 1711710000-1711965600 Three days across the clock change @\n"
         "dur-4 1718010000-1718010000 No end at all @\n"},
        // Escapes and non-ASCII text, folded in the middle of a character, twice; the parts join up again.
        {"texts.ics", kBerlinTz,
         "[Kalender \u2013 B\u00fcro, Team]\n"
         "texts-1 1718893800-1718893800 \u4f1a\u8bae \u2013 \u6771\u4eac \U0001F389 @Caf\u00e9 Z\u00fcrich, 2nd floor; "
         "room \"B\" | Bring: pens, paper; and snacks.\nDon't forget Anne's cake! Path: C:\\temp\nSee you there "
         "\U0001F382\U0001F382\U0001F382 und sch\u00f6ne Gr\u00fc\u00dfe aus K\u00f6ln, \u5317\u4eac, \u6771\u4eac\n"},
        // Outlook: "W. Europe Standard Time" in summer; Apple: the calendar's name.
        {"outlook.ics", kBerlinTz,
         "040000008200E00074C5B7101A82E00800000000D0A1B2C3D4E5F601000000000000000010000000A1B2C3D4E5F60718293A4B5C6D7"
         "E8F90 1714651200-1714654800 Quartalsplanung @Besprechungsraum 2 | Agenda:\n1. Budget\n2. Hiring\n\n"},
        {"apple.ics", kBerlinTz,
         "[Home]\n6B29FC40-CA47-1067-B31D-00DD010662DA 1725811200-1725818400 Dinner with Eva @Biergarten\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pszFile) + " in " + c.pszTz);
        SetTz(c.pszTz);
        EXPECT_EQ(c.strText, Text(Read(Case(c.pszFile))));
    }
}

// A start right at the horizon is in; a rule every minute breaks the bound of a
// series (calstore checks that the bound can be raised).
TEST_F(IcsTest, CutsEndlessAndRunawayRules)
{
    const CIcsImport result = Read(Case("daily_forever.ics"), Options(Utc(2024, 1, 10, 8, 0)));
    ASSERT_EQ(10u, result.events.size());
    EXPECT_EQ(Brief(result.events[9]), "daily-1 1704873600-1704874500 #20240110T080000Z Morning check @");
    EXPECT_EQ(9u, Read(Case("daily_forever.ics"), Options(Utc(2024, 1, 10, 7, 59, 59))).events.size());
    CIcsImport minutely;
    std::string strError;
    EXPECT_FALSE(ReadIcsFile(Case("minutely_forever.ics"), Options(Utc(2024, 4, 1)), minutely, strError));
    EXPECT_CONTAINS(strError, "more than 100000 times up to the horizon");
}

TEST_F(IcsTest, RefusesBrokenFilesLeavingTheResultAlone)  // read strictly; calstore checks what is no regular file
{
    const struct {
        std::string strPath;
        std::vector<std::string> fragments;
    } cases[] = {
        {Case("garbage.ics"), {"garbage.ics", "not an iCalendar file"}},
        {Case("no_vcalendar.ics"), {"no VCALENDAR"}},
        {Case("no_dtstart.ics"), {"no-start@example.com", "DTSTART"}},
        {Case("bad_date.ics"), {"bad-date", "invalid date"}},
        {Case("bad_rrule.ics"), {"\"Now and then\"", "RRULE", "FREQ=SOMETIMES"}},  // no UID: named by its summary
        {Case("unknown_zone.ics"), {"Mars/Olympus_Mons"}},
        {Case("truncated.ics"), {"truncated.ics"}},
        {Case("junk_lines.ics"), {"Service unavailable"}},  // between the events
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strPath);
        CIcsImport result;
        result.strCalendarName = "untouched";
        std::string strError;
        CIcsOptions options = Options();
        options.bStrict = true;
        EXPECT_FALSE(ReadIcsFile(c.strPath, options, result, strError));
        EXPECT_EQ("untouched", result.strCalendarName);
        for (const std::string& strFragment : c.fragments) {
            EXPECT_CONTAINS(strError, strFragment);
        }
    }
}

}  // namespace
