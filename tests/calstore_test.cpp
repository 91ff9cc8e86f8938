// The calstore binary run as a user runs it: arguments in; stdout, stderr and the
// exit status out; the database checked with the sqlite3 tool behind its back.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <ctime>
#include <future>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"

namespace {

using namespace testing_support;

struct CResult {
    int nStatus = -1;  // exit status, or minus the signal that ended the run
    std::string strOut, strErr;
};

// One flat object of calstore's JSON: strings without their quotes (escapes kept), other values as written.
using CJson = std::map<std::string, std::string>;
using CSpan = std::tuple<int64_t, int64_t, std::string>;  // begin, end, subject

std::vector<CSpan> Spans(const std::vector<CJson>& events)
{
    std::vector<CSpan> spans;
    for (const CJson& evt : events) {
        spans.emplace_back(std::stoll(evt.at("begin_unix")), std::stoll(evt.at("end_unix")), evt.at("subject"));
    }
    return spans;
}

// Some fields of each object, "|" between them.
std::vector<std::string> Fields(const std::vector<CJson>& objects, const std::vector<std::string>& keys)
{
    std::vector<std::string> rows;
    for (const CJson& obj : objects) {
        rows.emplace_back();
        for (const std::string& strKey : keys) {
            rows.back() += (&strKey == &keys.front() ? "" : "|") + obj.at(strKey);
        }
    }
    return rows;
}

const int64_t s_llHour = 3600, s_llDay = 86400;

// zones.ics read in UTC: zoned times, a night across the clock change, a floating time and a date.
const std::vector<CSpan> s_zones = {
    {1736929800, 1736935200, "Winter meeting"},            // 09:30-11:00 CET
    {1742461200, 1742461200 + s_llHour, "Berlin weekly"},  // 10:00 CET
    {1743066000, 1743066000 + s_llHour, "Berlin weekly"},
    {1743294600, 1743298200, "Across the clock change"},   // 01:30 CET to 03:30 CEST: one hour
    {1743667200, 1743667200 + s_llHour, "Berlin weekly"},  // 10:00 CEST
    {1751587200, 1751587200 + s_llDay, "Independence Day"},
    {1751619600, 1751619600 + s_llHour, "Floating breakfast"},
    {1752163200, 1752168600, "Summer meeting"},  // 18:00-19:30 CEST
};

// Each case has a store of its own, and runs calstore in a directory of its own.
class CalstoreTest : public ::testing::Test {
protected:
    std::string Root() const { return m_dir.Join("root"); }
    std::string Db() const { return Root() + "/1000/CalData.db"; }
    // A file of tests/calstore, quoted for the shell.
    static std::string Fixture(const std::string& strName) { return "'" CALSTORE_FIXTURES_DIR "/" + strName + "'"; }

    // Runs calstore on an empty stdin in the case's directory; a run that hangs is killed after a minute.
    CResult Run(const std::string& strArgs, const std::string& strTz = "UTC", bool bRoot = true)
    {
        const std::string strRoot = bRoot ? "--root '" + Root() + "' " : "";
        const int nStatus = std::system(("cd '" + m_dir.Path() + "' && exec env TZ=" + strTz + " TMPDIR='" +
                                         m_dir.Path() + "' timeout -s KILL 60 '" CALSTORE_BINARY "' " + strRoot +
                                         strArgs + " </dev/null >run.out 2>run.err")
                                            .c_str());
        CResult result;
        result.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -WTERMSIG(nStatus);
        ReadFile(m_dir.Join("run.out"), result.strOut);
        ReadFile(m_dir.Join("run.err"), result.strErr);
        return result;
    }

    // Runs a command that must succeed and returns what it printed.
    std::string Ok(const std::string& strArgs, const std::string& strTz = "UTC")
    {
        const CResult result = Run(strArgs, strTz);
        EXPECT_EQ(result.nStatus, 0) << strArgs << ": " << result.strErr;
        EXPECT_EQ(result.strErr, "") << strArgs;
        return result.strOut;
    }

    // Every object of the output, one a line: a lone object or the items of an array.
    std::vector<CJson> Json(const std::string& strArgs, const std::string& strTz = "UTC")
    {
        static const std::regex pair(R"re("(\w+)": (?:"((?:[^"\\]|\\.)*)"|([^,}]*)))re");
        std::vector<CJson> objects;
        std::istringstream in(Ok("--json " + strArgs, strTz));
        for (std::string strLine; std::getline(in, strLine);) {
            CJson& obj = objects.emplace_back();
            for (std::sregex_iterator it(strLine.begin(), strLine.end(), pair), end; it != end; ++it) {
                obj[(*it)[1]] = ((*it)[2].matched ? (*it)[2] : (*it)[3]).str();
            }
            if (obj.empty()) {
                objects.pop_back();
            }
        }
        return objects;
    }

    // The report of an import: events stored, skipped out of range, texts cut.
    std::string Import(const std::string& strArgs, const std::string& strTz = "UTC")
    {
        return Fields(Json("import " + strArgs, strTz), {"stored", "skipped_out_of_range", "texts_cut"}).at(0);
    }

    // A refused command: the status, and stderr naming the problem.
    void ExpectRefused(const std::string& strArgs, int nStatus, const std::vector<std::string>& fragments)
    {
        const CResult result = Run(strArgs);
        EXPECT_EQ(result.nStatus, nStatus) << result.strErr;
        for (const std::string& strFragment : fragments) {
            EXPECT_NE(result.strErr.find(strFragment), std::string::npos) << result.strErr;
        }
    }

    std::string Sql(const std::string& strQuery) { return RunSqliteShell(Db(), strQuery); }

    // Everything a command could have changed, as text to compare.
    std::string Snapshot()
    {
        std::string strIni;
        ReadFile(Root() + "/1000/CalendarConfig.ini", strIni);
        return Sql("select * from Calendar order by CalID;\nselect * from Event order by CalID, EvtID;\n") + strIni;
    }

    CTempDir m_dir;
};

TEST_F(CalstoreTest, ImportStoresExactTimesAndEveryCharacter)
{
    EXPECT_EQ(Import(Fixture("weekly.ics")), "6|0|0");
    EXPECT_EQ(Import(Fixture("zones.ics") + " --calendar 2"), "8|0|0");
    EXPECT_EQ(Import(Fixture("texts.ics") + " --calendar 3"), "1|0|0");
    // Six weeks from 6 January, without the 20th, the 27th moved to the 28th at 14:00.
    EXPECT_EQ(Spans(Json("events 1")), (std::vector<CSpan>{{1736154000, 1736154000 + s_llHour, "Weekly sync"},
                                                 {1736758800, 1736758800 + s_llHour, "Weekly sync"},
                                                 {1738072800, 1738072800 + s_llHour, "Weekly sync (moved)"},
                                                 {1738573200, 1738573200 + s_llHour, "Weekly sync"},
                                                 {1739178000, 1739178000 + s_llHour, "Weekly sync"},
                                                 {1739491200, 1739491200 + s_llDay, "Company holiday"}}));
    EXPECT_EQ(Spans(Json("events 2")), s_zones);
    // Texts keep every character in the database.
    EXPECT_EQ(Sql("select quote(subject), quote(Location), quote(detail), ext3 from Event where CalID = 3;"),
              "'会議 – 東京 🎉'|'O''Brien''s Pub, Dublin'|'Bring: pens, paper; snacks\nSecond line with \"quotes\" and "
              "\\backslash. Emoji across a fold: 🗓'|O'Brien-1@example.org\n");
    // A new calendar takes the name the file gives itself, else that of the file.
    EXPECT_EQ(Fields(Json("calendars"), {"id", "subject"}), (std::vector<std::string>{"1|Team", "2|zones", "3|texts"}));
}

TEST_F(CalstoreTest, FloatingAndAllDayTimesFollowTheLocalZone)
{
    const std::string strNy = "America/New_York";
    EXPECT_EQ(Import(Fixture("zones.ics"), strNy), "8|0|0");
    // Times with a zone do not move with the reader's zone; floating times and dates are New York's.
    std::vector<CSpan> expected = s_zones;
    expected[5] = {1751601600, 1751601600 + s_llDay, "Independence Day"};
    expected[6] = {1751634000, 1751634000 + s_llHour, "Floating breakfast"};
    EXPECT_EQ(Spans(Json("events 1", strNy)), expected);
    // Command-line times are local too, also on the day the clocks change.
    Ok("add-event 1 7 --begin 2025-03-09T12:00 --end 2025-03-09T13:00 --subject Clocks", strNy);
    EXPECT_EQ(Spans(Json("between 2025-03-09 2025-03-09T23:59", strNy)),
              (std::vector<CSpan>{{1741536000, 1741536000 + s_llHour, "Clocks"}}));
}

// The daily series runs 17-21 January 2038; the store ends on the 19th at 03:14:07 UTC, and
// a series is not expanded beyond it.
TEST_F(CalstoreTest, ImportSkipsWhatTheStoreCannotHold)
{
    EXPECT_EQ(Import(Fixture("range.ics") + " --horizon 5000"), "4|3|0");
    EXPECT_EQ(Spans(Json("events 1")),
              (std::vector<CSpan>{{2145873600, 2145873600 + s_llHour, "Last new year's eve the store can hold"},
                                  {2147299200, 2147299200 + s_llHour, "Daily near the end"},
                                  {2147385600, 2147385600 + s_llHour, "Daily near the end"},
                                  {2147472000, 2147472000 + s_llHour, "Daily near the end"}}));
}

// An edited series replaces its occurrences in place; stopping keeps the events
// unless told to clear them.
TEST_F(CalstoreTest, ImportingAgainUpdatesInsteadOfAddingEvents)
{
    EXPECT_EQ(Import(Fixture("weekly.ics")), "6|0|0");
    const std::string strIds = Sql("select EvtID from Event order by EvtID;");
    std::string strText;
    ASSERT_TRUE(ReadFile(CALSTORE_FIXTURES_DIR "/weekly.ics", strText));
    WriteFile(m_dir.Join("weekly.ics"),
              std::regex_replace(strText, std::regex("Weekly sync\n"), "Weekly sync (new room)\n"));
    EXPECT_EQ(Import("weekly.ics"), "6|0|0");
    EXPECT_EQ(Sql("select EvtID from Event order by EvtID;"), strIds);
    EXPECT_EQ(Sql("select subject, count(*) from Event group by subject order by subject;"),
              "Company holiday|1\nWeekly sync (moved)|1\nWeekly sync (new room)|4\n");
    Ok("stop");
    EXPECT_EQ(Sql("select count(*) from Event;"), "6\n");
    Ok("stop --clear");
    EXPECT_EQ(Sql("select count(*) from Event; select count(*) from Calendar;"), "0\n0\n");
}

TEST_F(CalstoreTest, HorizonLimitsOpenEndedSeries)
{
    const int64_t llNow = std::time(nullptr);
    // Every Monday since 6 January 2020 up to now, and two more weeks.
    const int64_t nNow = std::stoll(Import(Fixture("open-ended.ics") + " --horizon 0"));
    EXPECT_EQ(nNow, (llNow - 1578312000) / (7 * s_llDay) + 1);
    EXPECT_EQ(std::stoll(Import(Fixture("open-ended.ics") + " --calendar 2 --horizon 14")), nNow + 2);
}

// One event ends as the period begins, another begins as it ends; a period inside an all-day event.
TEST_F(CalstoreTest, BetweenPicksEventsTouchingThePeriod)
{
    Import(Fixture("weekly.ics"));
    EXPECT_EQ(Spans(Json("between 2025-01-13T10:00 2025-01-28T14:00")),
              (std::vector<CSpan>{{1736758800, 1736758800 + s_llHour, "Weekly sync"},
                                  {1738072800, 1738072800 + s_llHour, "Weekly sync (moved)"}}));
    EXPECT_EQ(Spans(Json("between 2025-01-13T10:00:01 2025-01-28T13:59:59")), std::vector<CSpan>{});
    EXPECT_EQ(Spans(Json("between 1739527200 1739530800")),
              (std::vector<CSpan>{{1739491200, 1739491200 + s_llDay, "Company holiday"}}));
}

// Fields not named keep their values; deleting a calendar takes its events along,
// and nothing of another calendar.
TEST_F(CalstoreTest, CalendarAndEventCommandsRoundTrip)
{
    Ok("add-calendar 4294967295 'Team Ω' --detail \"shared, with 'quotes'\"");
    Ok("add-event 4294967295 1 --begin 2025-03-01T09:00 --end 2025-03-01T10:30 --subject Review --location 'Room 1' "
       "--detail Agenda --external-id ext-42@example.org");
    Ok("add-event 4294967295 4294967295 --begin 1740823200 --end 1740826800 --subject Second");
    Ok("update-event 4294967295 1 --subject 'Review (moved)' --begin 2025-03-02T09:00 --end 2025-03-02T10:00");
    EXPECT_EQ(Fields(Json("events 4294967295"), {"subject", "begin_unix", "end_unix", "location", "detail"}),
              (std::vector<std::string>{"Second|1740823200|1740826800||",
                                        "Review (moved)|1740906000|1740909600|Room 1|Agenda"}));
    EXPECT_EQ(Json("find-external ext-42@example.org").at(0).at("exists"), "true");
    Ok("delete-event 4294967295 4294967295");
    EXPECT_EQ(Json("events 4294967295").size(), 1u);
    Import(Fixture("texts.ics"));
    Ok("delete-calendar 4294967295");
    EXPECT_EQ(Sql("select CalID, count(*) from Event group by CalID; select CalID from Calendar;"), "1|1\n1\n");
}

// The export is iCalendar as other programs read it: CRLF lines of at most 75
// octets, folded; escaped texts; UTC times, dates for all-day events, local times
// for floating ones; each occurrence under its UID and RECURRENCE-ID.
TEST_F(CalstoreTest, ExportThenImportGivesTheSameEvents)
{
    for (const char* pszFile : {"weekly.ics", "zones.ics", "texts.ics", "local-series.ics", "matching.ics"}) {
        Import(Fixture(pszFile) + " --calendar 1 --horizon 100000", "Europe/Berlin");
    }
    const std::string strBefore = Snapshot();
    EXPECT_EQ(Ok("export out.ics --calendar 1", "Europe/Berlin"), "Exported 26 events to out.ics\n");
    std::string strOut;
    ASSERT_TRUE(ReadFile(m_dir.Join("out.ics"), strOut));
    EXPECT_EQ(strOut.rfind("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Brellin//calstore//EN\r\nX-WR-CALNAME:Team\r\n", 0),
              0u);
    EXPECT_EQ(strOut.size() - 15, strOut.rfind("END:VCALENDAR\r\n"));
    for (const char* pszPart : {"\r\nUID:weekly-sync@example.org\r\n", "\r\nRECURRENCE-ID:20250127T090000Z\r\n",
                                "\r\nDTSTART;VALUE=DATE:20250214\r\nDTEND;VALUE=DATE:20250215\r\n",
                                "\r\nRECURRENCE-ID;VALUE=DATE:20250317\r\n", "\r\nDTSTART:20250603T073000\r\n",
                                "\r\nRECURRENCE-ID:20250603T073000\r\n", "\r\nLOCATION:O'Brien's Pub\\, Dublin\r\n",
                                "\r\nDESCRIPTION:Bring: pens\\, paper\\; snacks\\nSecond line with \"quotes\" and \r\n "
                                "\\\\backslash."}) {
        EXPECT_NE(strOut.find(pszPart), std::string::npos) << pszPart;
    }
    for (size_t nPos = 0, nEnd = 0; (nEnd = strOut.find("\r\n", nPos)) != std::string::npos; nPos = nEnd + 2) {
        EXPECT_LE(nEnd - nPos, 75u) << strOut.substr(nPos, nEnd - nPos);
    }
    // Its own export read back changes nothing, not even a time stamp.
    EXPECT_EQ(Import("out.ics --calendar 1", "Europe/Berlin"), "26|0|0");
    EXPECT_EQ(Snapshot(), strBefore);
    EXPECT_EQ(Import("out.ics --calendar 7", "Europe/Berlin"), "26|0|0");
    const std::vector<std::string> keys = {"begin_unix", "end_unix", "subject", "location", "detail"};
    EXPECT_EQ(Fields(Json("events 7"), keys), Fields(Json("events 1"), keys));
}

// What other programs write, read the same whatever the machine's zone: moved and
// removed occurrences named in another kind of time, older copies of an event,
// changes to a whole future, notes and properties that cannot be read, zones with
// a vendor's prefix, events that end before they begin.
TEST_F(CalstoreTest, ReadsWhatOtherProgramsWriteTheSameInEveryZone)
{
    const std::string strExpected =
        "Day off|2025-03-03 Zoned|1740992400-1740996000 Day off (moved)|2025-03-18 Day off|2025-03-24 "
        "Zoned (moved)|1742911200-1742914800 New copy|1743494400-1743498000 New copy|1743667200-1743670800 "
        "Newer by its stamp|1744272000-1744272000 Newer by its change|1744358400-1744358400 "
        "Weekly|1746435600-1746439200 Weekly|1747040400-1747044000 Later and shorter|1747652400-1747654200 "
        "Later and shorter|1748257200-1748259000 Later and shorter|1748862000-1748863800 "
        "Left a note by another program|1754038800-1754042400 One date unreadable|1754125200-1754128800 "
        "Zone with a vendor's prefix|1754294400-1754298000 Ends after it begins|1756717200-1756720800 ";
    // Stored, ending before they begin, older copies, events and properties skipped.
    const std::map<std::string, std::string> reports = {{"matching.ics", "5|0|0|0|0"}, {"copies.ics", "4|0|3|0|0"},
                                                        {"future.ics", "5|0|0|0|0"},   {"readable.ics", "3|0|0|1|1"},
                                                        {"backwards.ics", "1|2|0|0|0"}};
    int nAccount = 1;
    for (const char* pszTz : {"UTC", "Europe/Berlin", "America/New_York"}) {
        SCOPED_TRACE(pszTz);
        const std::string strAccount = "--account " + std::to_string(nAccount++) + " ";
        for (const auto& [strFile, strReport] : reports) {
            EXPECT_EQ(Fields(Json(strAccount + "import " + Fixture(strFile) + " --horizon 100000", pszTz),
                             {"stored", "ends_before_start", "older_copies", "skipped_events", "skipped_properties"}),
                      std::vector<std::string>{strReport});
        }
        std::string strListing;  // all-day events by their date, others by their times
        for (const CJson& evt : Json(strAccount + "events 1", pszTz)) {
            const bool bDay = evt.at("subject").rfind("Day off", 0) == 0;
            strListing += evt.at("subject") + "|" +
                          (bDay ? evt.at("begin").substr(0, 10) : evt.at("begin_unix") + "-" + evt.at("end_unix")) + " ";
        }
        EXPECT_EQ(strListing, strExpected);
    }
}

// An occurrence is known by its UID and its place in the series in the series' own
// terms, so a change of the machine's zone does not make it new.
TEST_F(CalstoreTest, ImportingAgainInAnotherZoneAddsNothing)
{
    EXPECT_EQ(Import(Fixture("local-series.ics"), "Europe/Berlin"), "6|0|0");
    EXPECT_EQ(Import(Fixture("local-series.ics"), "America/New_York"), "6|0|0");
    EXPECT_EQ(Fields(Json("events 1", "America/New_York"), {"begin"}),
              (std::vector<std::string>{"2025-06-02T00:00:00", "2025-06-02T07:30:00", "2025-06-03T07:30:00",
                                        "2025-06-04T07:30:00", "2025-06-09T00:00:00", "2025-06-16T00:00:00"}));
}

// An import never takes over another event's number: here one added by hand where
// the import would have put its own.
TEST_F(CalstoreTest, ImportNeverOverwritesAnotherEvent)
{
    Import(Fixture("weekly.ics"));
    const std::string strTaken = Json("events 1").at(0).at("id");
    Ok("add-calendar 2 Mine");
    Ok("add-event 2 " + strTaken + " --begin 2025-01-01T10:00 --end 2025-01-01T11:00 --subject Mine");
    EXPECT_EQ(Import(Fixture("weekly.ics") + " --calendar 2"), "6|0|0");
    EXPECT_EQ(Sql("select subject from Event where CalID = 2 and EvtID & 4294967295 = " + strTaken + ";"), "Mine\n");
}

// A file that cannot be read, or breaks a bound, is refused before the store starts.
TEST_F(CalstoreTest, HostileFilesAreRefusedBeforeTheStoreStarts)
{
    const std::string strHead = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\nBEGIN:VEVENT\r\n";
    const std::string strTail = "UID:x\r\nDTSTART:20250101T100000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    WriteFile(m_dir.Join("long.ics"), strHead + "SUMMARY:" + std::string(2 << 20, 'x') + "\r\n" + strTail);
    WriteFile(m_dir.Join("cp1252.ics"), strHead + "SUMMARY:Caf\xE9\r\n" + strTail);
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"/dev/zero", {"/dev/zero", "not a regular file"}},
        {"long.ics", {"long.ics line 5: a line longer than 1024 KB (raise the bound with --max-line-kb)"}},
        {"long.ics --max-line-kb 4096 --max-file-mb 1", {"long.ics: larger than the 1 MB", "--max-file-mb"}},
        {"cp1252.ics", {"cp1252.ics line 5: not valid UTF-8", "--charset"}},
        {Fixture("every-second.ics"), {"every-second@example.org", "more than 100000 times", "--max-series"}},
        {Fixture("zone-every-second.ics"), {"line 10", "VTIMEZONE \"Spinning\"", "not yearly"}},
        {Fixture("open-ended.ics") + " --max-series 10", {"every-monday@example.org", "more than 10 times"}},
        {Fixture("weekly.ics") + " --max-occurrences 5", {"more than 5 events", "--max-occurrences"}},
        {Fixture("readable.ics") + " --strict", {"readable.ics line 17: RDATE in event \"bad-rdate@example.org\""}},
        {Fixture("backwards.ics") + " --strict", {"an event ends before it begins"}},
    };
    for (const auto& [strArgs, fragments] : cases) {
        SCOPED_TRACE(strArgs);
        ExpectRefused("import " + strArgs, 1, fragments);
    }
    EXPECT_FALSE(FileExists(Db()));
    // Bounds raised, and the file's encoding named, the same files are read.
    EXPECT_EQ(Import("long.ics --max-line-kb 4096"), "1|0|1");
    EXPECT_EQ(Import("cp1252.ics --charset windows-1252 --calendar 2"), "1|0|0");
    EXPECT_EQ(Sql("select subject from Event where CalID = 2;"), "Café\n");
}

// A failed write says why, with the file; bad input changes nothing.
TEST_F(CalstoreTest, BadInputIsRefusedAndChangesNothing)
{
    Import(Fixture("weekly.ics"));
    const std::string strId = Json("events 1").at(0).at("id");
    const std::string strBefore = Snapshot();
    const std::string strAdd = "add-event 1 77 --subject x --begin ";
    const std::vector<std::string> malformed = {"malformed.ics", "broken@example.org", "DTSTART", "20251345T100000Z"};
    const std::vector<std::tuple<std::string, int, std::vector<std::string>>> cases = {
        {"frobnicate", 2, {"unknown command 'frobnicate'"}},
        {strAdd + "2025-02-30 --end 2025-03-01", 2, {"bad time for --begin: '2025-02-30'"}},
        {strAdd + "2025-01-01 --end 2039-01-01", 2, {"the time for --end '2039-01-01' is outside"}},
        {"add-event 1 " + strId + " --begin 2025-01-01 --end 2025-01-02 --subject x", 1, {"already has an event"}},
        {strAdd + "2025-01-02 --end 2025-01-01", 1, {"the event would end before it begins"}},
        // Not even the good event ahead of the broken one.
        {"import " + Fixture("malformed.ics") + " --strict --calendar 1", 1, malformed},
        {"import " + Fixture("malformed.ics") + " --strict --calendar 3", 1, malformed},
    };
    for (const auto& [strArgs, nStatus, fragments] : cases) {
        SCOPED_TRACE(strArgs);
        ExpectRefused(strArgs, nStatus, fragments);
    }
    EXPECT_EQ(Snapshot(), strBefore);
    // SQLite cannot make its journal where a directory of that name stands.
    ASSERT_EQ(::mkdir((Db() + "-journal").c_str(), 0700), 0);
    ExpectRefused(strAdd + "2025-01-01 --end 2025-01-02", 1, {"nothing of the command was saved", Db()});
    ASSERT_EQ(::rmdir((Db() + "-journal").c_str()), 0);
    EXPECT_EQ(Snapshot(), strBefore);
}

// Another program writing to the store (the calendar application, say) makes a
// command wait for it, not fail.
TEST_F(CalstoreTest, CommandWaitsForAnotherWriter)
{
    Ok("add-calendar 1 Shared");
    const std::string strMarker = m_dir.Join("locked");
    std::future<std::string> writer = std::async(std::launch::async, [&]() {
        return RunSqliteShell(Db(), "begin immediate;\n.shell touch '" + strMarker + "'\n.shell sleep 1\ncommit;\n");
    });
    for (int i = 0; i < 500 && !FileExists(strMarker); ++i) {
        ::usleep(10000);
    }
    ASSERT_TRUE(FileExists(strMarker)) << "the sqlite3 tool did not take the write lock";
    Ok("add-event 1 1 --begin 2025-01-01 --end 2025-01-02 --subject 'After the wait'");
    EXPECT_EQ(writer.get(), "");
}

// Without a command, the demo runs in a new directory of its own and imports its sample.
TEST_F(CalstoreTest, DemoRunsInADirectoryOfItsOwn)
{
    const CResult result = Run("", "UTC", false);
    EXPECT_EQ(result.nStatus, 0) << result.strErr;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(result.strOut, m, std::regex("\nFiles:\n  (.*)\n"))) << result.strOut;
    EXPECT_EQ(m[1].str().rfind(m_dir.Path() + "/calstore.", 0), 0u) << m[1];
    EXPECT_NE(RunSqliteShell(m[1], "select count(*) from Event;"), "0\n");
}

}  // namespace
