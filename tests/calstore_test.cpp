// The calstore binary run as a user runs it: arguments in; stdout, stderr and the
// exit status out; the database checked with the sqlite3 tool behind its back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <future>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"

extern char** environ;

namespace {

using testing_support::CTempDir;
using testing_support::ReadFile;
using testing_support::RunSqliteShell;
using testing_support::WriteFile;

struct CResult {
    int nStatus = -1;  // exit status, or minus the signal that ended the run
    std::string strOut;
    std::string strErr;
};

// Runs calstore with the test's environment, some variables replaced.
CResult RunProgram(const std::vector<std::string>& args, const std::map<std::string, std::string>& env)
{
    std::vector<std::string> envText;
    for (char** p = environ; *p != nullptr; ++p) {
        const std::string strVar = *p;
        if (env.count(strVar.substr(0, strVar.find('='))) == 0) {
            envText.push_back(strVar);
        }
    }
    for (const auto& var : env) {
        envText.push_back(var.first + "=" + var.second);
    }
    std::vector<std::string> argText = {CALSTORE_BINARY};
    argText.insert(argText.end(), args.begin(), args.end());
    // Built before the fork: the child only calls async-signal-safe functions.
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (std::string& str : argText) {
        argv.push_back(&str[0]);
    }
    for (std::string& str : envText) {
        envp.push_back(&str[0]);
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    CResult result;
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return result;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        const int fdNull = ::open("/dev/null", O_RDONLY);
        ::dup2(fdNull, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* targets[2] = {&result.strOut, &result.strErr};
    int nOpen = 2;
    while (nOpen > 0) {
        const int nReady = ::poll(fds, 2, 60000);
        if (nReady == 0) {
            ADD_FAILURE() << "calstore did not finish within a minute";
            ::kill(pid, SIGKILL);
            break;
        }
        if (nReady < 0) {
            if (errno == EINTR) {
                continue;
            }
            ADD_FAILURE() << "poll: " << std::strerror(errno);
            ::kill(pid, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[8192];
            const ssize_t cb = ::read(fds[i].fd, buffer, sizeof(buffer));
            if (cb > 0) {
                targets[i]->append(buffer, static_cast<size_t>(cb));
            } else if (cb == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --nOpen;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    result.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -WTERMSIG(nStatus);
    return result;
}

std::string Fixture(const std::string& strName)
{
    return std::string(CALSTORE_FIXTURES_DIR) + "/" + strName;
}

// One flat object of calstore's JSON: strings unescaped, numbers and booleans as written.
using CJson = std::map<std::string, std::string>;

CJson ParseObject(const std::string& strLine)
{
    CJson obj;
    size_t i = strLine.find('{') + 1;
    auto readString = [&]() {
        std::string str;
        for (++i; i < strLine.size() && strLine[i] != '"'; ++i) {
            if (strLine[i] != '\\') {
                str += strLine[i];
                continue;
            }
            switch (strLine[++i]) {
            case 'n': str += '\n'; break;
            case 'r': str += '\r'; break;
            case 't': str += '\t'; break;
            case 'u':
                str += static_cast<char>(std::stoi(strLine.substr(i + 1, 4), nullptr, 16));
                i += 4;
                break;
            default: str += strLine[i];
            }
        }
        ++i;
        return str;
    };
    while (i < strLine.size()) {
        i = strLine.find_first_not_of(", ", i);
        if (i == std::string::npos || strLine[i] != '"') {
            break;
        }
        const std::string strKey = readString();
        i = strLine.find_first_not_of(" :", i);
        if (strLine[i] == '"') {
            obj[strKey] = readString();
        } else {
            const size_t nEnd = strLine.find_first_of(",}", i);
            obj[strKey] = strLine.substr(i, nEnd - i);
            i = nEnd;
        }
    }
    return obj;
}

// Every object of the output: a lone object or the items of an array, one a line.
std::vector<CJson> JsonObjects(const std::string& strOut)
{
    std::vector<CJson> objects;
    size_t nPos = 0;
    while (nPos < strOut.size()) {
        const size_t nEol = strOut.find('\n', nPos);
        const std::string strLine = strOut.substr(nPos, nEol - nPos);
        if (strLine.find_first_not_of(' ') != std::string::npos && strLine[strLine.find_first_not_of(' ')] == '{') {
            objects.push_back(ParseObject(strLine));
        }
        nPos = nEol == std::string::npos ? strOut.size() : nEol + 1;
    }
    return objects;
}

int64_t Num(const CJson& obj, const std::string& strKey)
{
    const auto it = obj.find(strKey);
    return it == obj.end() ? -1 : std::stoll(it->second);
}

using CSpan = std::tuple<int64_t, int64_t, std::string>;  // begin, end, subject

std::vector<CSpan> Spans(const std::vector<CJson>& events)
{
    std::vector<CSpan> spans;
    for (const CJson& evt : events) {
        spans.emplace_back(Num(evt, "begin_unix"), Num(evt, "end_unix"), evt.at("subject"));
    }
    return spans;
}

// A text as the sqlite3 tool's quote() prints it.
std::string Quoted(const std::string& str)
{
    std::string strOut = "'";
    for (const char ch : str) {
        strOut += ch == '\'' ? std::string("''") : std::string(1, ch);
    }
    return strOut + "'";
}

std::string Repeat(const std::string& str, size_t n)
{
    std::string strOut;
    for (size_t i = 0; i < n; ++i) {
        strOut += str;
    }
    return strOut;
}

std::string Replace(std::string str, const std::string& strFrom, const std::string& strTo)
{
    const size_t nPos = str.find(strFrom);
    EXPECT_NE(nPos, std::string::npos) << strFrom;
    return nPos == std::string::npos ? str : str.replace(nPos, strFrom.size(), strTo);
}

class CalstoreTest : public ::testing::Test {
protected:
    std::string Root() const { return m_dir.Join("root"); }
    std::string Db() const { return Root() + "/1000/CalData.db"; }

    CResult Run(const std::vector<std::string>& args, const std::string& strTz = "UTC")
    {
        std::vector<std::string> all = {"--root", Root()};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(all, {{"TZ", strTz}});
    }

    // Runs a command that must succeed and returns what it printed.
    std::string Ok(const std::vector<std::string>& args, const std::string& strTz = "UTC")
    {
        const CResult result = Run(args, strTz);
        EXPECT_EQ(result.nStatus, 0) << args.front() << ": " << result.strErr;
        EXPECT_EQ(result.strErr, "") << args.front();
        return result.strOut;
    }

    std::vector<CJson> Events(const std::string& strCal, const std::string& strTz = "UTC")
    {
        return JsonObjects(Ok({"--json", "events", strCal}, strTz));
    }

    CJson Import(const std::vector<std::string>& args, const std::string& strTz = "UTC")
    {
        std::vector<std::string> all = {"--json", "import"};
        all.insert(all.end(), args.begin(), args.end());
        const std::vector<CJson> objects = JsonObjects(Ok(all, strTz));
        EXPECT_EQ(objects.size(), 1u);
        return objects.empty() ? CJson() : objects.front();
    }

    std::string Sql(const std::string& strQuery)
    {
        int nStatus = 0;
        const std::string strOut = RunSqliteShell(Db(), strQuery, &nStatus);
        EXPECT_EQ(nStatus, 0) << strOut;
        return strOut;
    }

    // Everything a command could have changed, as text to compare.
    std::string Snapshot()
    {
        std::string strIni;
        ReadFile(Root() + "/1000/CalendarConfig.ini", strIni);
        return Sql("select * from Calendar order by CalID;\nselect * from Event order by CalID, EvtID;\n") + strIni;
    }

    CTempDir m_dir;
};

// A refused command: the status, one line on stderr naming the problem, nothing on stdout.
void ExpectRefused(const CResult& result, int nStatus, const std::vector<std::string>& fragments,
                   const std::string& strWhat)
{
    EXPECT_EQ(result.nStatus, nStatus) << strWhat << "\nstderr: " << result.strErr;
    EXPECT_EQ(result.strErr.rfind("calstore: ", 0), 0u) << strWhat << ": " << result.strErr;
    for (const std::string& strFragment : fragments) {
        EXPECT_NE(result.strErr.find(strFragment), std::string::npos) << strWhat << ": " << result.strErr;
    }
    EXPECT_EQ(std::count(result.strErr.begin(), result.strErr.end(), '\n'), 1) << strWhat << ": " << result.strErr;
    EXPECT_TRUE(!result.strErr.empty() && result.strErr.back() == '\n') << strWhat;
    EXPECT_EQ(result.strOut, "") << strWhat;
}

const int64_t s_llHour = 3600;
const int64_t s_llDay = 86400;

TEST_F(CalstoreTest, ImportExpandsSeriesWithExdateAndMovedOccurrence)
{
    const CJson report = Import({Fixture("weekly.ics")});
    EXPECT_EQ(Num(report, "stored"), 6);
    EXPECT_EQ(Num(report, "skipped_out_of_range"), 0);
    EXPECT_EQ(Num(report, "texts_cut"), 0);
    // Six weeks from 6 January, without the 20th, the 27th moved to the 28th at 14:00.
    const std::vector<CSpan> expected = {
        {1736154000, 1736154000 + s_llHour, "Weekly sync"},
        {1736758800, 1736758800 + s_llHour, "Weekly sync"},
        {1738072800, 1738072800 + s_llHour, "Weekly sync (moved)"},
        {1738573200, 1738573200 + s_llHour, "Weekly sync"},
        {1739178000, 1739178000 + s_llHour, "Weekly sync"},
        {1739491200, 1739491200 + s_llDay, "Company holiday"},
    };
    const std::vector<CJson> events = Events("1");
    EXPECT_EQ(Spans(events), expected);
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].at("location"), "Room 2");
    EXPECT_EQ(events[5].at("begin"), "2025-02-14T00:00:00");
    // The new calendar takes the name the file gives itself.
    const std::vector<CJson> calendars = JsonObjects(Ok({"--json", "calendars"}));
    ASSERT_EQ(calendars.size(), 1u);
    EXPECT_EQ(calendars[0].at("subject"), "Team");
}

TEST_F(CalstoreTest, ImportConvertsZonedTimesToExactSeconds)
{
    EXPECT_EQ(Num(Import({Fixture("zones.ics")}), "stored"), 8);
    const std::vector<CSpan> expected = {
        {1736929800, 1736935200, "Winter meeting"},            // 09:30-11:00 CET
        {1742461200, 1742461200 + s_llHour, "Berlin weekly"},  // 10:00 CET
        {1743066000, 1743066000 + s_llHour, "Berlin weekly"},
        {1743294600, 1743298200, "Across the clock change"},   // 01:30 CET to 03:30 CEST: one hour
        {1743667200, 1743667200 + s_llHour, "Berlin weekly"},  // 10:00 CEST
        {1751587200, 1751587200 + s_llDay, "Independence Day"},
        {1751619600, 1751619600 + s_llHour, "Floating breakfast"},
        {1752163200, 1752168600, "Summer meeting"},  // 18:00-19:30 CEST
    };
    EXPECT_EQ(Spans(Events("1")), expected);
}

TEST_F(CalstoreTest, FloatingAndAllDayTimesFollowTheLocalZone)
{
    const std::string strNewYork = "America/New_York";
    EXPECT_EQ(Num(Import({Fixture("zones.ics")}, strNewYork), "stored"), 8);
    const std::vector<CJson> events = Events("1", strNewYork);
    std::map<std::string, CJson> bySubject;
    for (const CJson& evt : events) {
        bySubject[evt.at("subject")] = evt;
    }
    // Times with a zone do not move with the reader's zone.
    EXPECT_EQ(Num(bySubject["Winter meeting"], "begin_unix"), 1736929800);
    EXPECT_EQ(bySubject["Winter meeting"].at("begin"), "2025-01-15T03:30:00");
    EXPECT_EQ(Num(bySubject["Summer meeting"], "end_unix"), 1752168600);
    // Floating times and dates are New York's.
    EXPECT_EQ(Num(bySubject["Floating breakfast"], "begin_unix"), 1751634000);
    EXPECT_EQ(Num(bySubject["Independence Day"], "begin_unix"), 1751601600);
    EXPECT_EQ(Num(bySubject["Independence Day"], "end_unix"), 1751601600 + s_llDay);
    EXPECT_EQ(bySubject["Independence Day"].at("begin"), "2025-07-04T00:00:00");

    // Command-line times are local too, also on the day the clocks change.
    Ok({"add-event", "1", "7", "--begin", "2025-03-09T12:00", "--end", "2025-03-09T13:00", "--subject", "Clocks"},
       strNewYork);
    const std::vector<CJson> day = JsonObjects(Ok({"--json", "between", "2025-03-09", "2025-03-09T23:59"}, strNewYork));
    ASSERT_EQ(day.size(), 1u);
    EXPECT_EQ(Num(day[0], "begin_unix"), 1741536000);
    EXPECT_EQ(Spans(JsonObjects(Ok({"--json", "between", "2025-07-04", "2025-07-04T23:59"}, strNewYork))),
              (std::vector<CSpan>{{1751601600, 1751601600 + s_llDay, "Independence Day"},
                                  {1751634000, 1751634000 + s_llHour, "Floating breakfast"}}));
}

TEST_F(CalstoreTest, ImportKeepsEveryCharacterOfTheTexts)
{
    EXPECT_EQ(Num(Import({Fixture("texts.ics")}), "stored"), 1);
    const std::string strSubject = "会議 – 東京 🎉";
    const std::string strLocation = "O'Brien's Pub, Dublin";
    const std::string strDetail =
        "Bring: pens, paper; snacks\nSecond line with \"quotes\" and \\backslash. Emoji across a fold: 🗓";
    const std::vector<CJson> events = Events("1");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].at("subject"), strSubject);
    EXPECT_EQ(events[0].at("location"), strLocation);
    EXPECT_EQ(events[0].at("detail"), strDetail);
    EXPECT_EQ(Sql("select quote(subject), quote(Location), quote(detail), ext3 from Event;"),
              Quoted(strSubject) + "|" + Quoted(strLocation) + "|" + Quoted(strDetail) + "|O'Brien-1@example.org\n");
    EXPECT_EQ(Ok({"find-external", "O'Brien-1@example.org"}), "O'Brien-1@example.org: stored\n");
}

TEST_F(CalstoreTest, ImportCutsLongTextsAndCountsThem)
{
    auto event = [](const std::string& strUid, const std::string& strSummary, const std::string& strDescription) {
        return "BEGIN:VEVENT\nUID:" + strUid +
               "\nDTSTAMP:20250101T000000Z\nDTSTART:20250401T090000Z\n"
               "DTEND:20250401T100000Z\nSUMMARY:" +
               strSummary + "\nDESCRIPTION:" + strDescription + "\nEND:VEVENT\n";
    };
    // The second description would be cut inside the emoji's surrogate pair: it loses all of it.
    const std::string strFile = m_dir.Join("long.ics");
    WriteFile(strFile, "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Brellin//calstore tests//EN\n" +
                           event("long-1@example.org", "Long", Repeat("x", 3000) + Repeat("数", 100)) +
                           event("long-2@example.org", Repeat("S", 800), Repeat("y", 3070) + "😀" + Repeat("z", 10)) +
                           "END:VCALENDAR\n");
    const CJson report = Import({strFile});
    EXPECT_EQ(Num(report, "stored"), 2);
    EXPECT_EQ(Num(report, "texts_cut"), 3);
    EXPECT_EQ(Sql("select length(subject), length(detail), length(replace(detail, '数', '')),"
                  " length(replace(detail, 'y', '')) from Event order by ext3;"),
              "4|3071|3000|3071\n767|3070|3070|0\n");
    // Said in words, too, and again on a second import.
    const std::string strOut = Ok({"import", strFile});
    EXPECT_NE(strOut.find("Imported 2 events into calendar 1\n"), std::string::npos) << strOut;
    EXPECT_NE(strOut.find("Cut 3 texts to the length the store keeps\n"), std::string::npos) << strOut;
}

TEST_F(CalstoreTest, ImportSkipsTimesOutsideTheStoreAndCountsThem)
{
    // The daily series runs 17-21 January 2038; the store ends on the 19th at 03:14:07 UTC.
    const std::string strOut = Ok({"import", Fixture("range.ics"), "--horizon", "5000"});
    EXPECT_EQ(strOut,
              "Imported 4 events into calendar 1\nSkipped 5 events with times the store cannot hold "
              "(before 1901-12-13 or after 2038-01-19)\n");
    EXPECT_EQ(Spans(Events("1")),
              (std::vector<CSpan>{{2145873600, 2145873600 + s_llHour, "Last new year's eve the store can hold"},
                                  {2147299200, 2147299200 + s_llHour, "Daily near the end"},
                                  {2147385600, 2147385600 + s_llHour, "Daily near the end"},
                                  {2147472000, 2147472000 + s_llHour, "Daily near the end"}}));
}

TEST_F(CalstoreTest, BadFilesAreRefusedAndChangeNothing)
{
    Import({Fixture("weekly.ics")});
    const std::string strBefore = Snapshot();
    const std::string strNotIcs = m_dir.Join("notes.ics");
    WriteFile(strNotIcs, "shopping list\nmilk\n");
    const struct {
        std::string strFile;
        std::vector<std::string> fragments;
    } cases[] = {
        {Fixture("malformed.ics"), {"malformed.ics", "broken@example.org", "DTSTART", "20251345T100000Z"}},
        {m_dir.Join("missing.ics"), {"cannot open", "missing.ics", "No such file"}},
        {strNotIcs, {"notes.ics: not an iCalendar file"}},
    };
    for (const auto& c : cases) {
        for (const std::string strCalendar : {"1", "3"}) {
            ExpectRefused(Run({"import", c.strFile, "--calendar", strCalendar}), 1, c.fragments, c.strFile);
        }
    }
    // Not even the good event ahead of the broken one, nor calendar 3.
    EXPECT_EQ(Snapshot(), strBefore);
}

TEST_F(CalstoreTest, ImportingAgainUpdatesInsteadOfAddingEvents)
{
    EXPECT_EQ(Num(Import({Fixture("weekly.ics")}), "stored"), 6);
    const std::string strIds = Sql("select EvtID from Event order by EvtID;");
    EXPECT_EQ(Num(Import({Fixture("weekly.ics")}), "stored"), 6);
    EXPECT_EQ(Sql("select EvtID from Event order by EvtID;"), strIds);

    // An edited series replaces its occurrences in place.
    std::string strText;
    ASSERT_TRUE(ReadFile(Fixture("weekly.ics"), strText));
    const std::string strEdited = m_dir.Join("weekly.ics");
    WriteFile(strEdited, Replace(strText, "SUMMARY:Weekly sync\n", "SUMMARY:Weekly sync (new room)\n"));
    EXPECT_EQ(Num(Import({strEdited}), "stored"), 6);
    EXPECT_EQ(Sql("select EvtID from Event order by EvtID;"), strIds);
    EXPECT_EQ(Sql("select subject, count(*) from Event group by subject order by subject;"),
              "Company holiday|1\nWeekly sync (moved)|1\nWeekly sync (new room)|4\n");
}

TEST_F(CalstoreTest, HorizonLimitsOpenEndedSeries)
{
    const int64_t llNow = std::time(nullptr);
    const int64_t nNow = Num(Import({Fixture("open-ended.ics"), "--horizon", "0"}), "stored");
    const int64_t nLater = Num(Import({Fixture("open-ended.ics"), "--calendar", "2", "--horizon", "14"}), "stored");
    // Every Monday since 6 January 2020 up to now, and two more weeks.
    EXPECT_EQ(nNow, (llNow - 1578312000) / (7 * s_llDay) + 1);
    EXPECT_EQ(nLater, nNow + 2);
    const std::vector<CJson> later = Events("2");
    ASSERT_FALSE(later.empty());
    EXPECT_EQ(Num(later.front(), "begin_unix"), 1578312000);
    EXPECT_GT(Num(later.back(), "begin_unix"), llNow + 7 * s_llDay);
    EXPECT_LE(Num(later.back(), "begin_unix"), llNow + 14 * s_llDay + 60);
}

TEST_F(CalstoreTest, BetweenPicksEventsTouchingThePeriod)
{
    Import({Fixture("weekly.ics")});
    Import({Fixture("zones.ics"), "--calendar", "2"});
    auto between = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--json", "between"});
        return Spans(JsonObjects(Ok(args)));
    };
    // One event ends as the period begins, another begins as it ends.
    const std::vector<CSpan> touching = {{1736758800, 1736758800 + s_llHour, "Weekly sync"},
                                         {1736929800, 1736935200, "Winter meeting"},
                                         {1738072800, 1738072800 + s_llHour, "Weekly sync (moved)"}};
    EXPECT_EQ(between({"2025-01-13T10:00", "2025-01-28T14:00"}), touching);
    EXPECT_EQ(between({"1736762400", "1738072800"}), touching);
    EXPECT_EQ(between({"2025-01-13T10:00:01", "2025-01-28T13:59:59"}),
              (std::vector<CSpan>{{1736929800, 1736935200, "Winter meeting"}}));
    EXPECT_EQ(between({"2025-01-13T10:00", "2025-01-28T14:00", "--calendar", "1"}),
              (std::vector<CSpan>{touching[0], touching[2]}));
    // A period inside an all-day event.
    EXPECT_EQ(between({"2025-02-14T10:00", "2025-02-14T11:00"}),
              (std::vector<CSpan>{{1739491200, 1739491200 + s_llDay, "Company holiday"}}));
    EXPECT_EQ(between({"2030-01-01", "2030-12-31"}), std::vector<CSpan>{});
}

TEST_F(CalstoreTest, DatabaseAgreesWithEventsJson)
{
    Import({Fixture("weekly.ics")});
    Import({Fixture("zones.ics")});
    Import({Fixture("texts.ics")});
    const std::map<std::string, std::string> uids = {
        {"Weekly sync", "weekly-sync@example.org"},      {"Weekly sync (moved)", "weekly-sync@example.org"},
        {"Company holiday", "holiday@example.org"},      {"Winter meeting", "berlin-winter@example.org"},
        {"Berlin weekly", "berlin-weekly@example.org"},  {"Across the clock change", "berlin-night@example.org"},
        {"Summer meeting", "berlin-summer@example.org"}, {"Floating breakfast", "floating@example.org"},
        {"Independence Day", "all-day@example.org"},     {"会議 – 東京 🎉", "O'Brien-1@example.org"},
    };
    std::string strExpected;
    for (const CJson& evt : Events("1")) {
        strExpected += evt.at("id") + "|" + evt.at("begin_unix") + "|" + evt.at("end_unix") + "|" +
                       Quoted(evt.at("subject")) + "|" + Quoted(evt.at("location")) + "|" + uids.at(evt.at("subject")) +
                       "\n";
    }
    EXPECT_EQ(Sql("select EvtID & 4294967295, BgnTm, EndTm, quote(subject), quote(Location), ext3 from Event"
                  " where CalID = 1 order by BgnTm, EvtID & 4294967295;"),
              strExpected);
}

TEST_F(CalstoreTest, CalendarAndEventCommandsRoundTrip)
{
    EXPECT_EQ(Ok({"add-calendar", "5", "Team Ω", "--detail", "shared, with 'quotes'"}),
              "Added calendar 5 \"Team Ω\"\n");
    const std::vector<CJson> calendars = JsonObjects(Ok({"--json", "calendars"}));
    ASSERT_EQ(calendars.size(), 1u);
    EXPECT_EQ(calendars[0], (CJson{{"id", "5"}, {"subject", "Team Ω"}, {"detail", "shared, with 'quotes'"}}));

    Ok({"add-event", "5", "1", "--begin", "2025-03-01T09:00", "--end", "2025-03-01T10:30", "--subject", "Review",
        "--location", "Room 1", "--detail", "Agenda", "--external-id", "ext-42@example.org"});
    Ok({"add-event", "5", "4294967295", "--begin", "1740823200", "--end", "1740826800", "--subject", "Second"});
    EXPECT_EQ(Spans(Events("5")),
              (std::vector<CSpan>{{1740819600, 1740825000, "Review"}, {1740823200, 1740826800, "Second"}}));
    EXPECT_EQ(Sql("select ext3 from Event where CalID = 5 and EvtID = 1;"), "ext-42@example.org\n");
    EXPECT_EQ(JsonObjects(Ok({"--json", "find-external", "ext-42@example.org"})),
              (std::vector<CJson>{{{"external_id", "ext-42@example.org"}, {"exists", "true"}}}));
    EXPECT_EQ(Ok({"find-external", "ext-43@example.org"}), "ext-43@example.org: not stored\n");

    // Fields not named keep their values, the external id included.
    Ok({"update-event", "5", "1", "--subject", "Review (moved)", "--begin", "2025-03-02T09:00", "--end",
        "2025-03-02T10:00"});
    std::vector<CJson> events = Events("5");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].at("subject"), "Review (moved)");
    EXPECT_EQ(Num(events[1], "begin_unix"), 1740906000);
    EXPECT_EQ(events[1].at("location"), "Room 1");
    EXPECT_EQ(events[1].at("detail"), "Agenda");
    EXPECT_EQ(Sql("select ext3 from Event where CalID = 5 and EvtID = 1;"), "ext-42@example.org\n");

    EXPECT_EQ(Ok({"delete-event", "5", "4294967295"}), "Deleted event 4294967295 of calendar 5\n");
    EXPECT_EQ(Spans(Events("5")), (std::vector<CSpan>{{1740906000, 1740906000 + s_llHour, "Review (moved)"}}));
    EXPECT_EQ(Ok({"clear-calendar", "5"}), "Deleted every event of calendar 5\n");
    EXPECT_TRUE(Events("5").empty());
    EXPECT_EQ(JsonObjects(Ok({"--json", "calendars"})).size(), 1u);

    // Deleting a calendar takes its events along, and nothing of another calendar.
    Import({Fixture("texts.ics")});
    Ok({"add-event", "5", "3", "--begin", "2025-04-01", "--end", "2025-04-02", "--subject", "Gone soon"});
    EXPECT_EQ(Ok({"delete-calendar", "5"}), "Deleted calendar 5 and its events\n");
    EXPECT_EQ(Sql("select CalID, count(*) from Event group by CalID; select CalID from Calendar;"), "1|1\n1\n");
    ExpectRefused(Run({"events", "5"}), 1, {"there is no calendar 5"}, "events of a deleted calendar");

    // Another account is another store.
    EXPECT_EQ(Ok({"--account", "77", "--json", "calendars"}), "[]\n");
    EXPECT_TRUE(testing_support::FileExists(Root() + "/77/CalData.db"));
}

TEST_F(CalstoreTest, ConfigRoundTrip)
{
    Ok({"config", "set", "ui", "theme", "dark blue, 'quoted' ü"});
    EXPECT_EQ(Ok({"config", "get", "ui", "theme"}), "dark blue, 'quoted' ü\n");
    EXPECT_EQ(JsonObjects(Ok({"--json", "config", "get", "ui", "theme"})),
              (std::vector<CJson>{{{"namespace", "ui"}, {"item", "theme"}, {"value", "dark blue, 'quoted' ü"}}}));
    Ok({"config", "set", "ui", "theme", "light"});
    EXPECT_EQ(Ok({"config", "get", "ui", "theme"}), "light\n");

    Ok({"config", "set-number", "ui", "width", "4294967295"});
    Ok({"config", "set-number", "ui", "zero", "0"});
    EXPECT_EQ(Ok({"config", "get-number", "ui", "width"}), "4294967295\n");
    EXPECT_EQ(Ok({"config", "get-number", "ui", "zero"}), "0\n");

    EXPECT_EQ(Ok({"config", "delete", "ui", "theme"}), "Deleted ui/theme\n");
    ExpectRefused(Run({"config", "get", "ui", "theme"}), 1, {"there is no setting ui/theme"}, "deleted setting");
    EXPECT_EQ(Ok({"config", "get-number", "ui", "width"}), "4294967295\n");
}

TEST_F(CalstoreTest, ExportThenImportGivesTheSameEvents)
{
    Import({Fixture("weekly.ics")});
    Import({Fixture("texts.ics")});
    const std::string strFile = m_dir.Join("out.ics");
    EXPECT_EQ(Ok({"export", strFile, "--calendar", "1"}), "Exported 7 events to " + strFile + "\n");
    EXPECT_EQ(Num(Import({strFile, "--calendar", "7"}), "stored"), 7);

    auto comparable = [](const std::vector<CJson>& events) {
        std::vector<std::vector<std::string>> rows;
        for (const CJson& evt : events) {
            rows.push_back(
                {evt.at("begin_unix"), evt.at("end_unix"), evt.at("subject"), evt.at("location"), evt.at("detail")});
        }
        return rows;
    };
    EXPECT_EQ(comparable(Events("7")), comparable(Events("1")));
    const std::vector<CJson> calendars = JsonObjects(Ok({"--json", "calendars"}));
    ASSERT_EQ(calendars.size(), 2u);
    EXPECT_EQ(calendars[1].at("subject"), "Team");
}

TEST_F(CalstoreTest, StopWithClearEmptiesTheStore)
{
    Import({Fixture("weekly.ics")});
    EXPECT_EQ(Ok({"stop"}), "Stopped the store\n");
    EXPECT_EQ(Sql("select count(*) from Event; select count(*) from Calendar;"), "6\n1\n");
    EXPECT_EQ(Ok({"stop", "--clear"}), "Stopped the store and emptied it\n");
    EXPECT_EQ(Sql("select count(*) from Event; select count(*) from Calendar;"), "0\n0\n");
    EXPECT_EQ(Ok({"--json", "calendars"}), "[]\n");
}

TEST_F(CalstoreTest, BadInputIsRefusedAndChangesNothing)
{
    Import({Fixture("weekly.ics")});
    Ok({"config", "set", "ui", "theme", "dark"});
    const std::vector<CJson> events = Events("1");
    ASSERT_FALSE(events.empty());
    const std::string strId = events[0].at("id");
    const std::string strBefore = Snapshot();
    const std::vector<std::string> when = {"--begin", "2025-01-01T10:00", "--end", "2025-01-01T11:00"};
    auto addEvent = [&](const std::string& strCal, const std::string& strEvt, std::vector<std::string> more) {
        std::vector<std::string> args = {"add-event", strCal, strEvt};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    std::vector<std::string> withSubject = when;
    withSubject.insert(withSubject.end(), {"--subject", "x"});
    const struct {
        std::vector<std::string> args;
        int nStatus;
        std::string strFragment;
    } cases[] = {
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{"events", "1", "--bogus"}, 2, "unknown option --bogus for events"},
        {{"--bogus", "calendars"}, 2, "unknown option --bogus"},
        {{"add-calendar", "9", "Nine", "--detail"}, 2, "--detail needs a value"},
        {{"events"}, 2, "usage: calstore events CAL"},
        {{"events", "one"}, 2, "bad calendar number 'one'"},
        {{"add-calendar", "4294967296", "Big"}, 2, "bad calendar number '4294967296'"},
        {{"import", Fixture("weekly.ics"), "--horizon", "-5"}, 2, "bad number of days '-5'"},
        {{"config", "set-number", "ui", "width", "12abc"}, 2, "bad number '12abc'"},
        {addEvent("1", "77", {"--begin", "tomorrow", "--end", "2025-01-01", "--subject", "x"}), 2,
         "bad time for --begin: 'tomorrow'"},
        {addEvent("1", "77", {"--begin", "2025-02-30", "--end", "2025-03-01", "--subject", "x"}), 2,
         "bad time for --begin: '2025-02-30'"},
        {addEvent("1", "77", {"--begin", "2025-01-01", "--end", "2039-01-01", "--subject", "x"}), 2,
         "the time for --end '2039-01-01' is outside what the store holds"},
        {addEvent("1", "77", {"--begin", "1900-06-01", "--end", "2025-01-01", "--subject", "x"}), 2,
         "the time for --begin '1900-06-01' is outside"},
        {{"between", "2038-01-19T03:14:07Z", "2038-01-19T03:14:08Z"}, 2, "the time for the period end"},
        {{"between", "2025-02-01", "2025-01-01"}, 2, "the period ends before it begins"},
        {addEvent("1", "77", when), 2, "add-event needs --subject"},
        {addEvent("99", "1", withSubject), 1, "there is no calendar 99"},
        {addEvent("1", strId, withSubject), 1, "calendar 1 already has an event " + strId},
        {addEvent("1", "77", {"--begin", "2025-01-02", "--end", "2025-01-01", "--subject", "x"}), 1,
         "the event would end before it begins"},
        {addEvent("1", "77", {"--begin", "2025-01-02", "--end", "2025-01-03", "--subject", Repeat("s", 768)}), 1,
         "the subject is longer than the 767 characters"},
        {{"add-calendar", "1", "Again"}, 1, "calendar 1 already exists"},
        {{"delete-calendar", "99"}, 1, "there is no calendar 99"},
        {{"clear-calendar", "99"}, 1, "there is no calendar 99"},
        {{"update-event", "1", "12345", "--subject", "x"}, 1, "calendar 1 has no event 12345"},
        {{"update-event", "1", strId, "--begin", "2030-01-01"}, 1, "the event would end before it begins"},
        {{"update-event", "1", strId, "--external-id", "x"}, 2, "the external id of an event is fixed"},
        {{"delete-event", "1", "12345"}, 1, "calendar 1 has no event 12345"},
        {{"config", "get", "nope", "item"}, 1, "there is no setting nope/item"},
        {{"config", "delete", "nope", "item"}, 1, "there is no setting nope/item"},
        {{"config", "set", "ui", "theme"}, 2, "config set needs a value"},
        {{"config", "frob", "ui", "theme"}, 2, "unknown config action 'frob'"},
        {{"find-external", ""}, 2, "the external id is empty"},
    };
    for (const auto& c : cases) {
        std::string strWhat;
        for (const std::string& strArg : c.args) {
            strWhat += (strWhat.empty() ? "" : " ") + strArg.substr(0, 40);
        }
        ExpectRefused(Run(c.args), c.nStatus, {c.strFragment}, strWhat);
    }
    EXPECT_EQ(Snapshot(), strBefore);
}

TEST_F(CalstoreTest, TextListingsNameEveryCalendar)
{
    Ok({"add-calendar", "1", "One"});
    Ok({"add-calendar", "4294967295", "Last"});
    Ok({"add-event", "4294967295", "9", "--begin", "2025-01-01T08:00", "--end", "2025-01-01T09:00", "--subject",
        "Early"});
    Ok({"add-event", "1", "5", "--begin", "2025-01-01T10:00", "--end", "2025-01-01T11:00", "--subject", "Late",
        "--location", "Hall"});
    EXPECT_EQ(Ok({"calendars"}), "2 calendars\n  1  One\n  4294967295  Last\n");
    EXPECT_EQ(Ok({"between", "2025-01-01", "2025-01-01T23:59"}),
              "From 2025-01-01 00:00 to 2025-01-01 23:59: 2 events\n"
              " calendar 4294967295\n"
              "  9  2025-01-01 08:00 - 2025-01-01 09:00  Early\n"
              " calendar 1\n"
              "  5  2025-01-01 10:00 - 2025-01-01 11:00  Late @ Hall\n");
}

// Another program writing to the store (the calendar application, say) makes a
// command wait for it, not fail.
TEST_F(CalstoreTest, CommandWaitsForAnotherWriter)
{
    Ok({"add-calendar", "1", "Shared"});
    const std::string strMarker = m_dir.Join("locked");
    std::future<std::string> writer = std::async(std::launch::async, [&]() {
        return RunSqliteShell(Db(), "begin immediate;\n.shell touch '" + strMarker + "'\n.shell sleep 1\ncommit;\n");
    });
    for (int i = 0; i < 500 && !testing_support::FileExists(strMarker); ++i) {
        ::usleep(10000);
    }
    ASSERT_TRUE(testing_support::FileExists(strMarker)) << "the sqlite3 tool did not take the write lock";
    const CResult result =
        Run({"add-event", "1", "1", "--begin", "2025-01-01", "--end", "2025-01-02", "--subject", "After the wait"});
    EXPECT_EQ(writer.get(), "");
    EXPECT_EQ(result.nStatus, 0) << result.strErr;
    EXPECT_EQ(Sql("select subject from Event;"), "After the wait\n");
}

// The lines of a section of the demo's output: those after its title, up to a blank line.
std::vector<std::string> Section(const std::string& strOut, const std::string& strTitle,
                                 std::string* pTitleLine = nullptr)
{
    std::vector<std::string> lines;
    size_t nPos = strOut.find(strTitle);
    if (nPos == std::string::npos) {
        ADD_FAILURE() << "no section \"" << strTitle << "\" in:\n" << strOut;
        return lines;
    }
    size_t nEol = strOut.find('\n', nPos);
    if (pTitleLine != nullptr) {
        *pTitleLine = strOut.substr(nPos, nEol - nPos);
    }
    while (nEol != std::string::npos && nEol + 1 < strOut.size() && strOut[nEol + 1] == ' ') {
        const size_t nNext = strOut.find('\n', nEol + 1);
        lines.push_back(strOut.substr(nEol + 1, nNext - nEol - 1));
        nEol = nNext;
    }
    return lines;
}

TEST_F(CalstoreTest, DemoPrintsWhatItPromises)
{
    const std::string strOut = Ok({"demo"});
    EXPECT_EQ(strOut.rfind("Calendar store demo, account 1000\n", 0), 0u) << strOut;
    EXPECT_EQ(Section(strOut, "Calendars:"), (std::vector<std::string>{"  1  Work", "  2  Home"}));
    const size_t nImported = strOut.find("sample.ics into calendar 1: ");
    ASSERT_NE(nImported, std::string::npos) << strOut;
    const long nCount = std::stol(strOut.substr(nImported + std::string("sample.ics into calendar 1: ").size()));
    EXPECT_GT(nCount, 0);
    EXPECT_EQ(Sql("select count(*) from Event;"), std::to_string(nCount) + "\n");

    // The week shown is what a period query over the same dates finds.
    std::string strTitle;
    const std::vector<std::string> week = Section(strOut, "This week (", &strTitle);
    EXPECT_FALSE(week.empty());
    const std::string strFrom = strTitle.substr(std::string("This week (").size(), 10);
    const std::string strTo = strTitle.substr(std::string("This week (").size() + 14, 10);
    EXPECT_EQ(JsonObjects(Ok({"--json", "between", strFrom, strTo + "T23:59:59"})).size(), week.size()) << strTitle;

    EXPECT_NE(strOut.find("\nExternal id weekly-planning@example.org: stored\n"), std::string::npos) << strOut;
    EXPECT_NE(strOut.find("\nSetting demo/greeting: \"Hello from calstore\"\n"), std::string::npos) << strOut;
    EXPECT_EQ(Section(strOut, "Files:"),
              (std::vector<std::string>{"  " + Db(), "  " + Root() + "/1000/CalendarConfig.ini"}));
    EXPECT_TRUE(testing_support::FileExists(Root() + "/1000/CalendarConfig.ini"));
    EXPECT_NE(strOut.find("Try: calstore --root " + Root() + " events 1\n"), std::string::npos) << strOut;

    // A second demo in the same place imports the same events over the first ones.
    const std::string strAgain = Ok({"demo"});
    EXPECT_NE(strAgain.find("sample.ics into calendar 1: " + std::to_string(nCount) + " events"), std::string::npos);
    EXPECT_EQ(Sql("select count(*) from Event;"), std::to_string(nCount) + "\n");
}

TEST_F(CalstoreTest, NoCommandRunsTheDemoInAScratchDirectory)
{
    const CResult result = RunProgram({}, {{"TZ", "UTC"}, {"TMPDIR", m_dir.Path()}});
    EXPECT_EQ(result.nStatus, 0) << result.strErr;
    EXPECT_EQ(result.strErr, "");
    const std::vector<std::string> files = Section(result.strOut, "Files:");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].rfind("  " + m_dir.Path() + "/calstore.", 0), 0u) << files[0];
    EXPECT_TRUE(testing_support::FileExists(files[0].substr(2))) << files[0];
    EXPECT_NE(result.strOut.find("This week ("), std::string::npos);
}

}  // namespace
