// The iCalendar reader and writer of the command-line host: the files in tests/ics
// (time zones, repeating events, texts, vendor exports, broken files) and the
// write/read round trip. Every case runs with the same fixed local zone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "IcsFile.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

std::string CasesDir()
{
#ifdef CALSTORE_ICS_CASES_DIR
    return CALSTORE_ICS_CASES_DIR;
#else
    const std::string strFile = __FILE__;
    return strFile.substr(0, strFile.find_last_of('/')) + "/ics";
#endif
}

// Central European rules written out, so that no tz database is needed for local time.
const char kBerlinTz[] = "CET-1CEST,M3.5.0,M10.5.0/3";
const char kNewYorkTz[] = "EST5EDT,M3.2.0,M11.1.0";

int64_t Utc(int nYear, int nMonth, int nDay, int nHour = 0, int nMinute = 0, int nSecond = 0)
{
    std::tm t{};
    t.tm_year = nYear - 1900;
    t.tm_mon = nMonth - 1;
    t.tm_mday = nDay;
    t.tm_hour = nHour;
    t.tm_min = nMinute;
    t.tm_sec = nSecond;
    return static_cast<int64_t>(::timegm(&t));
}

const int64_t kHorizon = Utc(2030, 1, 1);

void SetTz(const char* pszTz)
{
    ::setenv("TZ", pszTz, 1);
    ::tzset();
}

class IcsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* pszTz = std::getenv("TZ");
        m_bHadTz = pszTz != nullptr;
        m_strTz = m_bHadTz ? pszTz : "";
        SetTz(kBerlinTz);
    }

    void TearDown() override
    {
        if (m_bHadTz) {
            ::setenv("TZ", m_strTz.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

    ::testing::AssertionResult Read(const std::string& strName, CIcsImport& result, int64_t llHorizon = kHorizon)
    {
        std::string strError;
        if (!ReadIcsFile(CasesDir() + "/" + strName, llHorizon, result, strError)) {
            return ::testing::AssertionFailure() << strName << ": " << strError;
        }
        return ::testing::AssertionSuccess();
    }

    // Reads a file that must be refused; returns the message.
    std::string Refused(const std::string& strPath)
    {
        CIcsImport result;
        result.strCalendarName = "untouched";
        std::string strError;
        EXPECT_FALSE(ReadIcsFile(strPath, kHorizon, result, strError)) << strPath;
        EXPECT_EQ("untouched", result.strCalendarName);
        EXPECT_FALSE(strError.empty());
        return strError;
    }

private:
    bool m_bHadTz = false;
    std::string m_strTz;
};

#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

TEST_F(IcsTest, ReadsASimpleEvent)
{
    CIcsImport result;
    ASSERT_TRUE(Read("simple.ics", result));  // LF line ends, an empty DESCRIPTION, an alarm
    EXPECT_EQ("Team Calendar", result.strCalendarName);
    ASSERT_EQ(1u, result.events.size());
    const CIcsEvent& ev = result.events[0];
    EXPECT_EQ("simple-1@example.com", ev.strUid);
    EXPECT_EQ(Utc(2024, 3, 12, 8, 0), ev.llBegin);  // floating 09:00, local CET
    EXPECT_EQ(Utc(2024, 3, 12, 9, 30), ev.llEnd);
    EXPECT_FALSE(ev.bAllDay);
    EXPECT_EQ("Planning meeting", ev.strSummary);
    EXPECT_EQ("", ev.strDescription);
    EXPECT_EQ("Room 4", ev.strLocation);
    EXPECT_EQ(0, ev.llRecurrenceId);
}

TEST_F(IcsTest, FloatingTimesFollowTheLocalZone)
{
    SetTz(kNewYorkTz);
    CIcsImport result;
    ASSERT_TRUE(Read("simple.ics", result));
    ASSERT_EQ(1u, result.events.size());
    EXPECT_EQ(Utc(2024, 3, 12, 13, 0), result.events[0].llBegin);  // 09:00 EDT
}

TEST_F(IcsTest, ReadsAllDayEventsAsLocalDays)
{
    CIcsImport result;
    ASSERT_TRUE(Read("all_day.ics", result));
    ASSERT_EQ(3u, result.events.size());
    EXPECT_TRUE(result.events[0].bAllDay);
    EXPECT_EQ(1710457200, result.events[0].llBegin);  // 2024-03-15 00:00 CET
    EXPECT_EQ(1710543600, result.events[0].llEnd);
    EXPECT_EQ(1711666800, result.events[1].llBegin);  // 2024-03-29, across the clock change
    EXPECT_EQ(1712008800, result.events[1].llEnd);    // 2024-04-02 00:00 CEST
    EXPECT_EQ(1714514400, result.events[2].llBegin);  // no DTEND: one day
    EXPECT_EQ(1714600800, result.events[2].llEnd);
    EXPECT_EQ("Labour day", result.events[2].strSummary);
}

TEST_F(IcsTest, ConvertsTimeZonesOfTheFile)
{
    CIcsImport result;
    ASSERT_TRUE(Read("time_zones.ics", result));
    ASSERT_EQ(4u, result.events.size());
    EXPECT_EQ("ny-winter", result.events[0].strUid);
    EXPECT_EQ(1705330800, result.events[0].llBegin);  // 2024-01-15 15:00 UTC (EST)
    EXPECT_EQ(1705334400, result.events[0].llEnd);
    EXPECT_EQ(1721052000, result.events[1].llBegin);  // 2024-07-15 14:00 UTC (EDT)
    EXPECT_EQ(1705309200, result.events[2].llBegin);  // 2024-01-15 09:00 UTC (CET)
    EXPECT_EQ(1705314600, result.events[2].llEnd);
    EXPECT_EQ(1721030400, result.events[3].llBegin);  // 2024-07-15 08:00 UTC (CEST)
    EXPECT_EQ(1721052000, result.events[3].llEnd);    // ends in the other zone
}

TEST_F(IcsTest, KnowsWellKnownZonesWithoutVtimezone)
{
    CIcsImport result;
    ASSERT_TRUE(Read("builtin_zone.ics", result));
    ASSERT_EQ(2u, result.events.size());
    EXPECT_EQ(1717200000, result.events[0].llBegin);  // 2024-06-01 09:00 JST
    EXPECT_EQ(1721030400, result.events[1].llBegin);  // 2024-07-15 10:00 CEST
}

TEST_F(IcsTest, PrefersTheFilesOwnZoneDefinition)
{
    CIcsImport result;
    ASSERT_TRUE(Read("zone_precedence.ics", result));
    ASSERT_EQ(1u, result.events.size());
    EXPECT_EQ(Utc(2024, 7, 15, 7, 0), result.events[0].llBegin);  // the file says +0300
}

TEST_F(IcsTest, UtcTimesDoNotDependOnTheLocalZone)
{
    for (const char* pszTz : {kBerlinTz, kNewYorkTz, "UTC0"}) {
        SetTz(pszTz);
        CIcsImport result;
        ASSERT_TRUE(Read("utc.ics", result));
        ASSERT_EQ(1u, result.events.size());
        EXPECT_EQ(1718893800, result.events[0].llBegin) << pszTz;  // 2024-06-20 14:30 UTC
        EXPECT_EQ(1718897400, result.events[0].llEnd) << pszTz;
        EXPECT_EQ("Call with Sydney", result.events[0].strSummary);
    }
}

TEST_F(IcsTest, ExpandsAWeeklySeriesWithExdateAndOverrides)
{
    CIcsImport result;
    ASSERT_TRUE(Read("weekly.ics", result));
    // Six weeks: one removed by EXDATE, one moved, one renamed, one cancelled.
    ASSERT_EQ(5u, result.events.size());
    const std::vector<CIcsEvent>& ev = result.events;
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ("weekly-1@example.com", ev[i].strUid);
    }
    EXPECT_EQ(1708959600, ev[0].llBegin);  // 2024-02-26 10:00 EST
    EXPECT_EQ(1708959600 + 3600, ev[0].llEnd);
    EXPECT_EQ(1708959600, ev[0].llRecurrenceId);
    EXPECT_EQ("Standup", ev[0].strSummary);
    EXPECT_EQ("Room 1", ev[0].strLocation);

    EXPECT_EQ(1709665200, ev[1].llBegin);         // moved to 2024-03-05 14:00 EST
    EXPECT_EQ(1709564400, ev[1].llRecurrenceId);  // from 2024-03-04 10:00 EST

    EXPECT_EQ(1710770400, ev[2].llBegin);  // 2024-03-18 10:00 EDT: wall clock kept over the change
    EXPECT_EQ(1710770400, ev[2].llRecurrenceId);
    EXPECT_EQ("Standup with a guest speaker", ev[2].strSummary);
    EXPECT_EQ("", ev[2].strLocation);  // an override replaces the whole occurrence

    EXPECT_EQ(1711980000, ev[3].llBegin);  // 2024-04-01 10:00 EDT; 03-25 was cancelled
    EXPECT_EQ("Standup", ev[3].strSummary);

    EXPECT_EQ("after-the-series", ev[4].strUid);  // file order, not time order
    EXPECT_EQ(0, ev[4].llRecurrenceId);
}

TEST_F(IcsTest, CutsAnEndlessRuleAtTheHorizon)
{
    CIcsImport result;
    ASSERT_TRUE(Read("daily_forever.ics", result, Utc(2024, 1, 10, 8, 0)));
    ASSERT_EQ(10u, result.events.size());  // a start right at the horizon is in
    for (size_t i = 0; i < result.events.size(); ++i) {
        EXPECT_EQ(Utc(2024, 1, 1 + int(i), 8, 0), result.events[i].llBegin);
        EXPECT_EQ(Utc(2024, 1, 1 + int(i), 8, 15), result.events[i].llEnd);
        EXPECT_EQ(result.events[i].llBegin, result.events[i].llRecurrenceId);
    }
    ASSERT_TRUE(Read("daily_forever.ics", result, Utc(2024, 1, 10, 7, 59, 59)));
    EXPECT_EQ(9u, result.events.size());
    ASSERT_TRUE(Read("daily_forever.ics", result, Utc(2023, 12, 31)));
    EXPECT_TRUE(result.events.empty());
}

TEST_F(IcsTest, TakesAUtcUntilOfLocalTimesOnTheLocalClock)
{
    CIcsImport result;
    ASSERT_TRUE(Read("floating_until.ics", result));
    ASSERT_EQ(4u, result.events.size());  // the last start, 09:00 CET, is the UNTIL itself
    EXPECT_EQ(Utc(2024, 1, 26, 8), result.events[3].llBegin);
    EXPECT_EQ("Local times, UNTIL in UTC", result.events[3].strSummary);
}

TEST_F(IcsTest, StopsARunawayRule)
{
    CIcsImport result;
    ASSERT_TRUE(Read("minutely_forever.ics", result, Utc(2025, 1, 1)));
    ASSERT_EQ(100000u, result.events.size());
    EXPECT_EQ(Utc(2024, 1, 1), result.events.front().llBegin);
    EXPECT_EQ(Utc(2024, 1, 1) + 99999 * 60, result.events.back().llBegin);
}

TEST_F(IcsTest, AddsRdatesAndRepeatsAllDayEvents)
{
    CIcsImport result;
    ASSERT_TRUE(Read("rdate.ics", result));
    ASSERT_EQ(6u, result.events.size());
    EXPECT_EQ(Utc(2024, 8, 1, 10), result.events[0].llBegin);
    EXPECT_EQ(Utc(2024, 8, 15, 10), result.events[1].llBegin);  // RDATE
    EXPECT_EQ(Utc(2024, 8, 15, 11), result.events[1].llEnd);
    EXPECT_EQ(Utc(2024, 10, 1, 10), result.events[2].llBegin);  // September was removed
    // Yearly all-day until 2026-03-29, the day of the clock change that year.
    EXPECT_EQ(1711666800, result.events[3].llBegin);
    EXPECT_EQ(Utc(2025, 3, 28, 23), result.events[4].llBegin);
    EXPECT_EQ(Utc(2026, 3, 28, 23), result.events[5].llBegin);
    EXPECT_EQ(Utc(2026, 3, 29, 22), result.events[5].llEnd);  // local midnight, 23 hours later
    EXPECT_TRUE(result.events[5].bAllDay);
}

TEST_F(IcsTest, HonoursDuration)
{
    CIcsImport result;
    ASSERT_TRUE(Read("duration.ics", result));
    ASSERT_EQ(4u, result.events.size());
    EXPECT_EQ(Utc(2024, 6, 10, 10, 30), result.events[0].llEnd);
    EXPECT_EQ(1717970400, result.events[1].llBegin);  // 2024-06-10 00:00 CEST
    EXPECT_EQ(1718229600, result.events[1].llEnd);    // three days later
    EXPECT_EQ(1711710000, result.events[2].llBegin);  // 2024-03-29 12:00 CET
    EXPECT_EQ(1711965600, result.events[2].llEnd);    // 2024-04-01 12:00 CEST: days on the wall clock
    EXPECT_EQ(result.events[3].llBegin, result.events[3].llEnd);
}

TEST_F(IcsTest, ReadsNonAsciiAndEscapedText)
{
    CIcsImport result;
    ASSERT_TRUE(Read("texts.ics", result));
    EXPECT_EQ("Kalender \u2013 B\u00fcro, Team", result.strCalendarName);
    ASSERT_EQ(1u, result.events.size());
    EXPECT_EQ("\u4f1a\u8bae \u2013 \u6771\u4eac \U0001F389", result.events[0].strSummary);
    // Folded in the middle of a character, twice; the parts join up again.
    EXPECT_EQ(
        "Bring: pens, paper; and snacks.\nDon't forget Anne's cake! Path: C:\\temp\nSee you there "
        "\U0001F382\U0001F382\U0001F382 und sch\u00f6ne Gr\u00fc\u00dfe aus K\u00f6ln, \u5317\u4eac, \u6771\u4eac",
        result.events[0].strDescription);
    EXPECT_EQ("Caf\u00e9 Z\u00fcrich, 2nd floor; room \"B\"", result.events[0].strLocation);
}

TEST_F(IcsTest, ReadsALongFoldedDescription)
{
    std::string strLong;
    while (strLong.size() < 5000) {
        strLong += "Zeile " + std::to_string(strLong.size()) + ", \u00e4\u00f6\u00fc; ";
    }
    strLong.resize(4999);  // ASCII at the cut
    strLong += '.';        // libical drops trailing blanks of a value
    std::string strLine = "DESCRIPTION:";
    for (const char ch : strLong) {
        strLine += ch == ',' ? "\\," : ch == ';' ? "\\;" : std::string(1, ch);
    }
    std::string strFolded;
    for (size_t nPos = 0; nPos < strLine.size(); nPos += 74) {
        strFolded += (nPos == 0 ? "" : "\r\n ") + strLine.substr(nPos, 74);
    }
    CTempDir dir;
    ASSERT_TRUE(WriteFile(dir.Join("long.ics"),
                          "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\nBEGIN:VEVENT\r\nUID:long\r\n"
                          "DTSTAMP:20240101T000000Z\r\nDTSTART:20240101T100000Z\r\n" +
                              strFolded + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"));
    CIcsImport result;
    std::string strError;
    ASSERT_TRUE(ReadIcsFile(dir.Join("long.ics"), kHorizon, result, strError)) << strError;
    ASSERT_EQ(1u, result.events.size());
    EXPECT_EQ(strLong, result.events[0].strDescription);
}

TEST_F(IcsTest, ReadsOutlookAndAppleExports)
{
    CIcsImport result;
    ASSERT_TRUE(Read("outlook.ics", result));
    ASSERT_EQ(1u, result.events.size());
    EXPECT_EQ(Utc(2024, 5, 2, 12), result.events[0].llBegin);  // "W. Europe Standard Time", summer
    EXPECT_EQ(Utc(2024, 5, 2, 13), result.events[0].llEnd);
    EXPECT_EQ("Quartalsplanung", result.events[0].strSummary);
    EXPECT_EQ("Agenda:\n1. Budget\n2. Hiring\n", result.events[0].strDescription);
    EXPECT_EQ(
        "040000008200E00074C5B7101A82E00800000000D0A1B2C3D4E5F601000000000000000010000000A1B2C3D4E5F60718293A4B5C6D7"
        "E8F90",
        result.events[0].strUid);

    ASSERT_TRUE(Read("apple.ics", result));
    EXPECT_EQ("Home", result.strCalendarName);
    ASSERT_EQ(1u, result.events.size());
    EXPECT_EQ("6B29FC40-CA47-1067-B31D-00DD010662DA", result.events[0].strUid);
    EXPECT_EQ(Utc(2024, 9, 8, 16), result.events[0].llBegin);
    EXPECT_EQ(Utc(2024, 9, 8, 18), result.events[0].llEnd);
    EXPECT_EQ("Biergarten", result.events[0].strLocation);
}

TEST_F(IcsTest, RefusesBrokenFiles)
{
    const std::string strDir = CasesDir() + "/";
    std::string strError = Refused(strDir + "garbage.ics");
    EXPECT_CONTAINS(strError, "garbage.ics");
    EXPECT_CONTAINS(strError, "not an iCalendar file");
    EXPECT_CONTAINS(Refused(strDir + "no_vcalendar.ics"), "no VCALENDAR");
    strError = Refused(strDir + "no_dtstart.ics");
    EXPECT_CONTAINS(strError, "no-start@example.com");
    EXPECT_CONTAINS(strError, "DTSTART");
    strError = Refused(strDir + "bad_date.ics");
    EXPECT_CONTAINS(strError, "bad-date");
    EXPECT_CONTAINS(strError, "invalid date");
    strError = Refused(strDir + "bad_rrule.ics");  // no UID: named by its summary
    EXPECT_CONTAINS(strError, "\"Now and then\"");
    EXPECT_CONTAINS(strError, "RRULE");
    EXPECT_CONTAINS(strError, "FREQ=SOMETIMES");
    EXPECT_CONTAINS(Refused(strDir + "unknown_zone.ics"), "Mars/Olympus_Mons");
    EXPECT_CONTAINS(Refused(strDir + "truncated.ics"), "truncated.ics");
    EXPECT_CONTAINS(Refused(strDir + "junk_lines.ics"), "Service unavailable");  // between the events
}

TEST_F(IcsTest, RefusesMissingEmptyAndBinaryFiles)
{
    CTempDir dir;
    std::string strError = Refused(dir.Join("missing.ics"));
    EXPECT_CONTAINS(strError, dir.Join("missing.ics"));
    EXPECT_CONTAINS(strError, "No such file");
    EXPECT_CONTAINS(Refused(dir.Path()), dir.Path());
    ASSERT_TRUE(WriteFile(dir.Join("empty.ics"), ""));
    EXPECT_CONTAINS(Refused(dir.Join("empty.ics")), "not an iCalendar file");
    ASSERT_TRUE(WriteFile(dir.Join("binary.ics"), std::string("BEGIN:VCALENDAR\r\n\0\x01\x02", 20)));
    EXPECT_CONTAINS(Refused(dir.Join("binary.ics")), "binary");
}

// --- Writing ---------------------------------------------------------------------

CIcsEvent Event(const std::string& strUid, int64_t llBegin, int64_t llEnd, const std::string& strSummary)
{
    CIcsEvent ev;
    ev.strUid = strUid;
    ev.llBegin = llBegin;
    ev.llEnd = llEnd;
    ev.strSummary = strSummary;
    return ev;
}

void ExpectSameEvents(const std::vector<CIcsEvent>& expected, const std::vector<CIcsEvent>& actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("event " + std::to_string(i));
        EXPECT_EQ(expected[i].strUid, actual[i].strUid);
        EXPECT_EQ(expected[i].llBegin, actual[i].llBegin);
        EXPECT_EQ(expected[i].llEnd, actual[i].llEnd);
        EXPECT_EQ(expected[i].bAllDay, actual[i].bAllDay);
        EXPECT_EQ(expected[i].strSummary, actual[i].strSummary);
        EXPECT_EQ(expected[i].strDescription, actual[i].strDescription);
        EXPECT_EQ(expected[i].strLocation, actual[i].strLocation);
        EXPECT_EQ(expected[i].llRecurrenceId, actual[i].llRecurrenceId);
    }
}

std::vector<CIcsEvent> SampleEvents()
{
    std::vector<CIcsEvent> events;
    events.push_back(Event("timed@x", Utc(2024, 6, 20, 14, 30), Utc(2024, 6, 20, 15, 30), "Call, then; lunch"));
    events.back().strDescription = "Line one\nLine two with a \\ backslash, Anne's \"quotes\"\n\n";
    events.back().strLocation = "Caf\u00e9; 2nd floor, \u6771\u4eac \U0001F389";
    events.push_back(Event("day@x", 1711666800, 1712008800, "Easter trip"));  // 2024-03-29 to 04-02
    events.back().bAllDay = true;
    std::string strLong;
    for (int i = 0; strLong.size() < 5000; ++i) {
        strLong += "\u00c4rger " + std::to_string(i) + "; ";
    }
    strLong.back() = '.';  // libical drops trailing blanks of a value
    events.push_back(Event("", Utc(2024, 1, 1, 9), Utc(2024, 1, 1, 9), ""));  // no UID, no text, no length
    events.back().strDescription = strLong;
    // Two occurrences of a series, as ReadIcsFile hands them out.
    events.push_back(Event("series@x", Utc(2024, 3, 5, 19), Utc(2024, 3, 5, 20), "Moved"));
    events.back().llRecurrenceId = Utc(2024, 3, 4, 15);
    events.push_back(Event("series@x", 1710457200, 1710543600, "Day of a series"));
    events.back().bAllDay = true;
    events.back().llRecurrenceId = 1710457200;
    return events;
}

TEST_F(IcsTest, ReadsBackWhatItWrites)
{
    CTempDir dir;
    const std::vector<CIcsEvent> events = SampleEvents();
    std::string strError;
    ASSERT_TRUE(WriteIcsFile(dir.Join("out.ics"), "Work, home; \u00fcbrig", events, strError)) << strError;
    CIcsImport result;
    ASSERT_TRUE(ReadIcsFile(dir.Join("out.ics"), kHorizon, result, strError)) << strError;
    EXPECT_EQ("Work, home; \u00fcbrig", result.strCalendarName);
    ExpectSameEvents(events, result.events);
    EXPECT_EQ(std::vector<std::string>{"out.ics"}, ListDir(dir.Path()));  // no temporary left over
}

TEST_F(IcsTest, WritesUtcTimesDatesAndFoldedEscapedLines)
{
    CTempDir dir;
    std::string strError;
    ASSERT_TRUE(WriteIcsFile(dir.Join("out.ics"), "", SampleEvents(), strError)) << strError;
    std::string strText;
    ASSERT_TRUE(ReadFile(dir.Join("out.ics"), strText));
    EXPECT_EQ(0u, strText.find("BEGIN:VCALENDAR\r\n"));
    EXPECT_CONTAINS(strText, "\r\nVERSION:2.0\r\n");
    EXPECT_CONTAINS(strText, "\r\nPRODID:-//Brellin//calstore//EN\r\n");
    EXPECT_EQ(std::string::npos, strText.find("X-WR-CALNAME"));
    EXPECT_CONTAINS(strText, "\r\nDTSTART:20240620T143000Z\r\nDTEND:20240620T153000Z\r\n");
    EXPECT_CONTAINS(strText, "\r\nDTSTART;VALUE=DATE:20240329\r\nDTEND;VALUE=DATE:20240402\r\n");
    EXPECT_CONTAINS(strText, "\r\nRECURRENCE-ID:20240304T150000Z\r\n");
    EXPECT_CONTAINS(strText, "\r\nSUMMARY:Call\\, then\\; lunch\r\n");
    EXPECT_CONTAINS(strText, "\r\nDTSTAMP:");
    size_t nLines = 0;
    for (size_t nPos = 0; nPos < strText.size(); ++nLines) {
        const size_t nEnd = strText.find("\r\n", nPos);
        ASSERT_NE(std::string::npos, nEnd);
        EXPECT_LE(nEnd - nPos, 75u) << strText.substr(nPos, nEnd - nPos);
        nPos = nEnd + 2;
    }
    EXPECT_GT(nLines, 70u);  // the long description took many lines
}

TEST_F(IcsTest, ReplacesAnExistingFileWhole)
{
    CTempDir dir;
    ASSERT_TRUE(WriteFile(dir.Join("out.ics"), std::string(100000, 'x')));
    std::string strError;
    ASSERT_TRUE(
        WriteIcsFile(dir.Join("out.ics"), "Cal", {Event("a", Utc(2024, 1, 1), Utc(2024, 1, 1, 1), "A")}, strError))
        << strError;
    std::string strText;
    ASSERT_TRUE(ReadFile(dir.Join("out.ics"), strText));
    EXPECT_EQ(0u, strText.find("BEGIN:VCALENDAR"));
    EXPECT_EQ(strText.size() - 15, strText.rfind("END:VCALENDAR\r\n"));
}

TEST_F(IcsTest, AFailedWriteLeavesNoFile)
{
    CTempDir dir;
    std::string strError;
    const std::string strMissing = dir.Join("no/such/dir/out.ics");
    EXPECT_FALSE(WriteIcsFile(strMissing, "", SampleEvents(), strError));
    EXPECT_CONTAINS(strError, strMissing);
    EXPECT_TRUE(ListDir(dir.Path()).empty());

    // The rename fails when the target is a directory; the temporary goes too.
    ::mkdir(dir.Join("taken.ics").c_str(), 0777);
    strError.clear();
    EXPECT_FALSE(WriteIcsFile(dir.Join("taken.ics"), "", SampleEvents(), strError));
    EXPECT_CONTAINS(strError, "taken.ics");
    EXPECT_EQ(std::vector<std::string>{"taken.ics"}, ListDir(dir.Path()));
}

}  // namespace
