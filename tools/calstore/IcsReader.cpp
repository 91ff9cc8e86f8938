// Reading an iCalendar file. The file is read whole and checked against the bounds
// first; the lines are unfolded and the components nested here, so that every
// property keeps its line number; libical parses one property at a time, so that
// one that cannot be read costs only itself; then the events are read and the
// series expanded.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "IcsFile.h"
#include "IcsRecurrence.h"
#include "IcsTime.h"

namespace {

std::string Text(const char* psz)
{
    return psz != nullptr ? psz : "";
}

std::string Upper(std::string str)
{
    for (char& ch : str) {
        if (ch >= 'a' && ch <= 'z') {
            ch = char(ch - 'a' + 'A');
        }
    }
    return str;
}

int LineOf(const std::string& strContent, size_t nOffset)
{
    return 1 + int(std::count(strContent.begin(), strContent.begin() + long(nOffset), '\n'));
}

// --- The bytes -------------------------------------------------------------------

bool ReadWholeFile(const std::string& strPath, const CIcsLimits& limits, std::string& strContent, std::string& strError)
{
    // Not blocking, so that a pipe without a writer is refused rather than waited for.
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        strError = "cannot open " + strPath + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        strError = "cannot read " + strPath + ": " +
                   (S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file (a device, pipe or socket)");
        return false;
    }
    const std::string strTooBig = strPath + ": larger than the " + std::to_string(limits.llMaxFileBytes >> 20) +
                                  " MB an import reads (raise the bound with --max-file-mb)";
    if (st.st_size > limits.llMaxFileBytes) {
        ::close(fd);
        strError = strTooBig;
        return false;
    }
    strContent.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t cb = ::read(fd, buffer, sizeof(buffer));
        if (cb < 0 && errno == EINTR) {
            continue;
        }
        if (cb < 0) {
            const int nErr = errno;
            ::close(fd);
            strError = "cannot read " + strPath + ": " + std::strerror(nErr);
            return false;
        }
        if (cb == 0) {
            break;
        }
        strContent.append(buffer, static_cast<size_t>(cb));
        if (int64_t(strContent.size()) > limits.llMaxFileBytes) {  // it grew while we read
            ::close(fd);
            strError = strTooBig;
            return false;
        }
    }
    ::close(fd);
    return true;
}

// The offset of the first byte that is not part of valid UTF-8; npos when all is.
size_t FirstInvalidUtf8(const std::string& str)
{
    const auto* p = reinterpret_cast<const unsigned char*>(str.data());
    const size_t n = str.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        size_t nMore = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            nMore = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            nMore = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            nMore = 3;
            cp = c & 0x07;
        } else {
            return i;
        }
        for (size_t k = 1; k <= nMore; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
                return i;
            }
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond Unicode.
        if ((nMore == 2 && cp < 0x800) || (nMore == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return i;
        }
        i += nMore + 1;
    }
    return std::string::npos;
}

bool ConvertCharset(const std::string& strPath, const std::string& strCharset, std::string& strContent,
                    std::string& strError)
{
    iconv_t cd = ::iconv_open("UTF-8", strCharset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        strError = "unknown character set \"" + strCharset + "\" (try windows-1252, iso-8859-15 or utf-16)";
        return false;
    }
    std::string strOut(strContent.size() * 4 + 16, '\0');
    char* pIn = &strContent[0];
    size_t cbIn = strContent.size();
    char* pOut = &strOut[0];
    size_t cbOut = strOut.size();
    const size_t nResult = ::iconv(cd, &pIn, &cbIn, &pOut, &cbOut);
    ::iconv_close(cd);
    if (nResult == size_t(-1)) {
        strError = strPath + " line " + std::to_string(LineOf(strContent, size_t(pIn - strContent.data()))) +
                   ": not valid " + strCharset + " text";
        return false;
    }
    strOut.resize(strOut.size() - cbOut);
    strContent.swap(strOut);
    return true;
}

// --- Lines and components --------------------------------------------------------

struct CLine {
    int nLine = 0;
    std::string strText;
};

// Unfolds the content into logical lines, each with the number of its first line.
bool SplitLines(const std::string& strPath, const std::string& strContent, const CIcsLimits& limits,
                std::vector<CLine>& lines, std::string& strError)
{
    int nLine = 0;
    for (size_t nPos = 0; nPos < strContent.size();) {
        size_t nEnd = strContent.find('\n', nPos);
        if (nEnd == std::string::npos) {
            nEnd = strContent.size();
        }
        size_t nTextEnd = nEnd;
        if (nTextEnd > nPos && strContent[nTextEnd - 1] == '\r') {
            --nTextEnd;
        }
        ++nLine;
        const bool bContinues = nTextEnd > nPos && (strContent[nPos] == ' ' || strContent[nPos] == '\t');
        if (bContinues && !lines.empty()) {
            lines.back().strText.append(strContent, nPos + 1, nTextEnd - nPos - 1);
        } else if (nTextEnd > nPos) {
            lines.push_back(CLine{nLine, strContent.substr(nPos, nTextEnd - nPos)});
        }
        if (!lines.empty() && int64_t(lines.back().strText.size()) > limits.llMaxLineBytes) {
            strError = strPath + " line " + std::to_string(lines.back().nLine) + ": a line longer than " +
                       std::to_string(limits.llMaxLineBytes >> 10) + " KB (raise the bound with --max-line-kb)";
            return false;
        }
        nPos = nEnd + 1;
    }
    return true;
}

struct CComponentFree {
    void operator()(icalcomponent* p) const { icalcomponent_free(p); }
};
using CComponentPtr = std::unique_ptr<icalcomponent, CComponentFree>;

// The file as components, with the line of every component and property, and what
// could not be read.
struct CParsedFile {
    std::vector<CComponentPtr> calendars;
    std::map<const void*, int> lines;  // component or property -> its line
    std::vector<CIcsSkip> skipped;
    std::string strOtherKind;  // what the file holds instead of a VCALENDAR
};

// The components whose properties matter here; others are passed over whole.
bool IsKept(const std::string& strName, const std::string& strParent)
{
    if (strParent.empty()) {
        return strName == "VCALENDAR";
    }
    if (strParent == "VCALENDAR") {
        return strName == "VEVENT" || strName == "VTIMEZONE";
    }
    return strParent == "VTIMEZONE" && (strName == "STANDARD" || strName == "DAYLIGHT");
}

// How messages name an event: by UID, else by summary, else by its line.
std::string EventName(icalcomponent* pComp, int nLine)
{
    const std::string strUid = Text(icalcomponent_get_uid(pComp));
    if (!strUid.empty()) {
        return "event \"" + strUid + "\"";
    }
    const std::string strSummary = Text(icalcomponent_get_summary(pComp));
    return strSummary.empty() ? "the event of line " + std::to_string(nLine) : "event \"" + strSummary + "\"";
}

// The properties an event cannot do without: they say when it happens.
bool IsEssential(const std::string& strName)
{
    return strName == "DTSTART" || strName == "DTEND" || strName == "DURATION" || strName == "RRULE" ||
           strName == "RECURRENCE-ID";
}

// libical's "Removing entire property" notes, cut down to what was wrong.
std::string WhyNotRead(const std::string& strNote)
{
    const std::string strMarker = ". Removing entire property";
    const size_t nCut = strNote.find(strMarker);
    std::string strWhy =
        nCut == std::string::npos ? strNote : strNote.substr(0, nCut) + strNote.substr(nCut + strMarker.size());
    for (size_t n; (n = strWhy.find("\\,")) != std::string::npos;) {
        strWhy.erase(n, 1);
    }
    return strWhy;
}

// Parses one content line into pTarget. Properties that cannot be read are noted
// in skipped, named later with their component.
void AddProperty(const CLine& line, icalcomponent* pTarget, CParsedFile& file, std::vector<CIcsSkip>& skipped)
{
    const std::string strName = Upper(line.strText.substr(0, line.strText.find_first_of(";:")));
    // What another libical program left of its own complaints is no part of the data.
    if (strName == "X-LIC-ERROR") {
        return;
    }
    if (strName.empty() || strName.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-") != std::string::npos) {
        skipped.push_back(CIcsSkip{false, "a line that is no property", line.nLine, line.strText.substr(0, 60)});
        return;
    }
    const std::string strWrapped = "BEGIN:VEVENT\r\n" + line.strText + "\r\nEND:VEVENT\r\n";
    CComponentPtr pOne(icalparser_parse_string(strWrapped.c_str()));
    if (pOne == nullptr) {
        skipped.push_back(CIcsSkip{false, strName, line.nLine, "cannot be read"});
        return;
    }
    std::vector<icalproperty*> properties;
    for (icalproperty* p = icalcomponent_get_first_property(pOne.get(), ICAL_ANY_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(pOne.get(), ICAL_ANY_PROPERTY)) {
        properties.push_back(p);
    }
    for (icalproperty* p : properties) {
        icalcomponent_remove_property(pOne.get(), p);
        if (icalproperty_isa(p) == ICAL_XLICERROR_PROPERTY) {
            const std::string strNote = Text(icalproperty_get_xlicerror(p));
            icalproperty_free(p);
            // An empty value ("DESCRIPTION:") says nothing; it is not an error.
            if (strNote.rfind("No value", 0) != 0) {
                skipped.push_back(CIcsSkip{false, strName, line.nLine, WhyNotRead(strNote)});
            }
            continue;
        }
        file.lines[p] = line.nLine;
        icalcomponent_add_property(pTarget, p);
    }
}

bool ParseLines(const std::string& strPath, const std::vector<CLine>& lines, CParsedFile& file, std::string& strError)
{
    struct CFrame {
        std::string strName;
        icalcomponent* pComp;  // null for a component passed over
        int nLine;
        std::vector<CIcsSkip> skipped;
    };
    std::vector<CFrame> stack;
    for (const CLine& line : lines) {
        const std::string strHead = Upper(line.strText.substr(0, 6));
        if (strHead == "BEGIN:" || Upper(line.strText.substr(0, 4)) == "END:") {
            const bool bBegin = strHead == "BEGIN:";
            std::string strName = Upper(line.strText.substr(bBegin ? 6 : 4));
            strName.erase(strName.find_last_not_of(" \t") + 1);
            if (bBegin) {
                const std::string strParent = stack.empty() ? "" : stack.back().strName;
                const bool bParentKept = stack.empty() || stack.back().pComp != nullptr;
                icalcomponent* pComp = nullptr;
                if (bParentKept && IsKept(strName, strParent)) {
                    pComp = icalcomponent_new(icalcomponent_string_to_kind(strName.c_str()));
                    file.lines[pComp] = line.nLine;
                } else if (stack.empty() && file.strOtherKind.empty()) {
                    file.strOtherKind = strName;
                }
                stack.push_back(CFrame{strName, pComp, line.nLine, {}});
                continue;
            }
            if (stack.empty() || stack.back().strName != strName) {
                strError = strPath + " line " + std::to_string(line.nLine) + ": END:" + strName +
                           (stack.empty() ? " without its BEGIN" : " where END:" + stack.back().strName + " was due");
                return false;
            }
            CFrame frame = std::move(stack.back());
            stack.pop_back();
            if (frame.pComp == nullptr) {
                continue;
            }
            // Name what was left out by the event it belongs to. An event whose times
            // or rule cannot be read is left out whole: without them it would be wrong.
            const std::string strOwner = frame.strName == "VEVENT"      ? EventName(frame.pComp, frame.nLine)
                                         : frame.strName == "VCALENDAR" ? "the calendar"
                                                                        : frame.strName;
            const auto itEssential = std::find_if(
                frame.skipped.begin(), frame.skipped.end(),
                [&](const CIcsSkip& skip) { return frame.strName == "VEVENT" && IsEssential(skip.strWhat); });
            if (itEssential != frame.skipped.end()) {
                file.skipped.push_back(
                    CIcsSkip{true, strOwner, itEssential->nLine,
                             "its " + itEssential->strWhat + " cannot be read: " + itEssential->strWhy});
                icalcomponent_free(frame.pComp);
                continue;
            }
            for (CIcsSkip& skip : frame.skipped) {
                skip.strWhat += " in " + strOwner;
                file.skipped.push_back(skip);
            }
            if (stack.empty()) {
                file.calendars.emplace_back(frame.pComp);
            } else {
                icalcomponent_add_component(stack.back().pComp, frame.pComp);
            }
            continue;
        }
        if (stack.empty()) {
            // Text between calendars (an error page glued to a download, say).
            file.skipped.push_back(
                CIcsSkip{false, "a line outside the calendar", line.nLine, line.strText.substr(0, 60)});
        } else if (stack.back().pComp != nullptr) {
            AddProperty(line, stack.back().pComp, file, stack.back().skipped);
        }
    }
    if (!stack.empty()) {
        strError = strPath + ": the file ends inside the " + stack.back().strName + " of line " +
                   std::to_string(stack.back().nLine) + " (cut short?)";
        for (CFrame& frame : stack) {
            if (frame.pComp != nullptr) {
                icalcomponent_free(frame.pComp);  // joins its parent only at its END
            }
        }
        return false;
    }
    return true;
}

// --- Events ----------------------------------------------------------------------

int LineOf(const CParsedFile& file, const void* p)
{
    const auto it = file.lines.find(p);
    return it != file.lines.end() ? it->second : 0;
}

// Real zones change their clocks a few times a year; a rule that changes them every
// second would keep libical busy for ever.
bool CheckZone(const std::string& strPath, icalcomponent* pZone, const CParsedFile& file, const CIcsLimits& limits,
               std::string& strError)
{
    icalproperty* pTzid = icalcomponent_get_first_property(pZone, ICAL_TZID_PROPERTY);
    const std::string strName = "VTIMEZONE \"" + (pTzid != nullptr ? Text(icalproperty_get_tzid(pTzid)) : "") + "\"";
    int64_t nRules = 0;
    for (icalcomponent* p = icalcomponent_get_first_component(pZone, ICAL_ANY_COMPONENT); p != nullptr;
         p = icalcomponent_get_next_component(pZone, ICAL_ANY_COMPONENT)) {
        ++nRules;
        nRules += icalcomponent_count_properties(p, ICAL_RDATE_PROPERTY);
        for (icalproperty* pRule = icalcomponent_get_first_property(p, ICAL_RRULE_PROPERTY); pRule != nullptr;
             pRule = icalcomponent_get_next_property(p, ICAL_RRULE_PROPERTY)) {
            const icalrecurrencetype rule = icalproperty_get_rrule(pRule);
            if (rule.freq != ICAL_YEARLY_RECURRENCE) {
                strError = strPath + " line " + std::to_string(LineOf(file, pRule)) + ": " + strName +
                           " changes its clock by a rule that is not yearly (" +
                           Text(icalproperty_get_value_as_string(pRule)) + ")";
                return false;
            }
        }
    }
    if (nRules > limits.llMaxZoneRules) {
        strError = strPath + " line " + std::to_string(LineOf(file, pZone)) + ": " + strName + " has more than " +
                   std::to_string(limits.llMaxZoneRules) + " clock changes (raise the bound with --max-zone-rules)";
        return false;
    }
    return true;
}

int64_t UtcSeconds(const icaltimetype& tt)
{
    return icaltime_is_null_time(tt) ? 0 : CivilToSeconds(FromIcal(tt));
}

enum class EVeventResult { READ, SKIPPED, ENDS_BEFORE_START };

EVeventResult ReadVevent(icalcomponent* pComp, const CZones& zones, const CParsedFile& file, size_t nIndex, CVevent& ev,
                         std::vector<CIcsSkip>& skipped)
{
    ev.nLine = LineOf(file, pComp);
    ev.nIndex = nIndex;
    ev.strName = EventName(pComp, ev.nLine);
    auto skip = [&](const void* pWhere, const std::string& strWhy) {
        skipped.push_back(CIcsSkip{true, ev.strName, pWhere != nullptr ? LineOf(file, pWhere) : ev.nLine, strWhy});
        return EVeventResult::SKIPPED;
    };
    std::string strWhy;
    icalproperty* pStart = icalcomponent_get_first_property(pComp, ICAL_DTSTART_PROPERTY);
    if (pStart == nullptr) {
        return skip(nullptr, "it has no DTSTART");
    }
    if (!ResolveTime(pStart, icalproperty_get_dtstart(pStart), zones, ev.start, strWhy)) {
        return skip(pStart, strWhy);
    }
    ev.llBegin = ToUnix(ev.start);
    if (icalproperty* pEnd = icalcomponent_get_first_property(pComp, ICAL_DTEND_PROPERTY)) {
        CTimeValue end;
        if (!ResolveTime(pEnd, icalproperty_get_dtend(pEnd), zones, end, strWhy)) {
            return skip(pEnd, strWhy);
        }
        ev.llEnd = ToUnix(end);
    } else if (icalproperty* pDuration = icalcomponent_get_first_property(pComp, ICAL_DURATION_PROPERTY)) {
        const icaldurationtype duration = icalproperty_get_duration(pDuration);
        if (icaldurationtype_is_bad_duration(duration)) {
            return skip(pDuration, "invalid DURATION " + Text(icalproperty_get_value_as_string(pDuration)));
        }
        ev.llEnd = AddDuration(ev.start, duration);
    } else {
        ev.llEnd = ev.start.bDate ? FromWall(AddDays(ev.start.civil, 1), ev.start.anchor) : ev.llBegin;
    }
    if (ev.llEnd < ev.llBegin) {
        return EVeventResult::ENDS_BEFORE_START;
    }
    // An all-day event lasts a day at least.
    if (ev.start.bDate && ev.llEnd == ev.llBegin) {
        ev.llEnd = FromWall(AddDays(ev.start.civil, 1), ev.start.anchor);
    }

    if (icalproperty* pRid = icalcomponent_get_first_property(pComp, ICAL_RECURRENCEID_PROPERTY)) {
        if (!ResolveTime(pRid, icalproperty_get_recurrenceid(pRid), zones, ev.recurrenceId, strWhy)) {
            return skip(pRid, strWhy);
        }
        ev.bOverride = true;
        icalparameter* pRange = icalproperty_get_first_parameter(pRid, ICAL_RANGE_PARAMETER);
        ev.bThisAndFuture = pRange != nullptr && icalparameter_get_range(pRange) == ICAL_RANGE_THISANDFUTURE;
    }
    for (icalproperty* p = icalcomponent_get_first_property(pComp, ICAL_RRULE_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(pComp, ICAL_RRULE_PROPERTY)) {
        const icalrecurrencetype rule = icalproperty_get_rrule(p);
        if (rule.freq == ICAL_NO_RECURRENCE) {
            return skip(p, "its RRULE cannot be read: " + Text(icalproperty_get_value_as_string(p)));
        }
        ev.rules.push_back(rule);
    }
    // A date or period that cannot be read costs only itself.
    for (icalproperty* p = icalcomponent_get_first_property(pComp, ICAL_RDATE_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(pComp, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
        const bool bPeriod = icaltime_is_null_time(rdate.time);
        CRdate value;
        value.bPeriod = bPeriod;
        bool bRead = ResolveTime(p, bPeriod ? rdate.period.start : rdate.time, zones, value.start, strWhy);
        if (bRead && bPeriod) {
            if (!icaltime_is_null_time(rdate.period.end)) {
                CTimeValue end;
                bRead = ResolveTime(p, rdate.period.end, zones, end, strWhy);
                value.llEnd = ToUnix(end);
            } else {
                value.llEnd = AddDuration(value.start, rdate.period.duration);
            }
        }
        if (bRead) {
            ev.rdates.push_back(value);
        } else {
            skipped.push_back(CIcsSkip{false, "RDATE in " + ev.strName, LineOf(file, p), strWhy});
        }
    }
    for (icalproperty* p = icalcomponent_get_first_property(pComp, ICAL_EXDATE_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(pComp, ICAL_EXDATE_PROPERTY)) {
        CTimeValue value;
        if (ResolveTime(p, icalproperty_get_exdate(p), zones, value, strWhy)) {
            ev.exdates.push_back(value);
        } else {
            skipped.push_back(CIcsSkip{false, "EXDATE in " + ev.strName, LineOf(file, p), strWhy});
        }
    }

    ev.strUid = Text(icalcomponent_get_uid(pComp));
    auto pTexts = std::make_shared<CIcsTexts>();
    pTexts->strSummary = Text(icalcomponent_get_summary(pComp));
    pTexts->strDescription = Text(icalcomponent_get_description(pComp));
    pTexts->strLocation = Text(icalcomponent_get_location(pComp));
    ev.pTexts = pTexts;
    ev.bCancelled = icalcomponent_get_status(pComp) == ICAL_STATUS_CANCELLED;
    if (icalcomponent_get_first_property(pComp, ICAL_SEQUENCE_PROPERTY) != nullptr) {
        ev.nSequence = icalcomponent_get_sequence(pComp);
    }
    if (icalproperty* p = icalcomponent_get_first_property(pComp, ICAL_LASTMODIFIED_PROPERTY)) {
        ev.llModified = UtcSeconds(icalproperty_get_lastmodified(p));
    } else if (icalproperty* pStamp = icalcomponent_get_first_property(pComp, ICAL_DTSTAMP_PROPERTY)) {
        ev.llModified = UtcSeconds(icalproperty_get_dtstamp(pStamp));
    }
    return EVeventResult::READ;
}

std::string Describe(const std::string& strPath, const CIcsSkip& skip)
{
    return strPath + " line " + std::to_string(skip.nLine) + ": " + skip.strWhat + ": " + skip.strWhy;
}

}  // namespace

bool ReadIcsFile(const std::string& strPath, const CIcsOptions& options, CIcsImport& result, std::string& strError)
{
    // The caller's result changes only on success.
    CIcsImport imported;
    strError.clear();
    std::string strContent;
    if (!ReadWholeFile(strPath, options.limits, strContent, strError)) {
        return false;
    }
    const std::string strCharset = Upper(options.strCharset);
    if (!strCharset.empty() && strCharset != "UTF-8" && strCharset != "UTF8" &&
        !ConvertCharset(strPath, options.strCharset, strContent, strError)) {
        return false;
    }
    if (strContent.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        strContent.erase(0, 3);
    }
    if (strContent.find('\0') != std::string::npos) {
        strError = strPath + ": not an iCalendar file (binary data, or not UTF-8)";
        return false;
    }
    std::vector<CLine> lines;
    if (!SplitLines(strPath, strContent, options.limits, lines, strError)) {
        return false;
    }
    strContent = std::string();
    // Checked once unfolded: writers fold lines inside a character.
    for (const CLine& line : lines) {
        if (FirstInvalidUtf8(line.strText) != std::string::npos) {
            strError = strPath + " line " + std::to_string(line.nLine) +
                       ": not valid UTF-8 (name the file's encoding with --charset, e.g. --charset windows-1252)";
            return false;
        }
    }
    if (std::none_of(lines.begin(), lines.end(),
                     [](const CLine& line) { return Upper(line.strText.substr(0, 6)) == "BEGIN:"; })) {
        strError = strPath + ": not an iCalendar file";
        return false;
    }
    CParsedFile file;
    if (!ParseLines(strPath, lines, file, strError)) {
        return false;
    }
    lines = std::vector<CLine>();
    if (file.calendars.empty()) {
        strError = strPath + ": no VCALENDAR in the file (it holds a " + file.strOtherKind + ")";
        return false;
    }

    // Zones first: an event may come before the VTIMEZONE it names.
    CZones zones;
    for (const CComponentPtr& pCalendar : file.calendars) {
        for (icalcomponent* p = icalcomponent_get_first_component(pCalendar.get(), ICAL_VTIMEZONE_COMPONENT);
             p != nullptr; p = icalcomponent_get_next_component(pCalendar.get(), ICAL_VTIMEZONE_COMPONENT)) {
            if (!CheckZone(strPath, p, file, options.limits, strError)) {
                return false;
            }
            zones.Add(p);
        }
    }
    std::vector<CIcsSkip> skipped = file.skipped;
    std::vector<CVevent> vevents;
    for (const CComponentPtr& pCalendar : file.calendars) {
        for (icalproperty* p = icalcomponent_get_first_property(pCalendar.get(), ICAL_X_PROPERTY);
             p != nullptr && imported.strCalendarName.empty();
             p = icalcomponent_get_next_property(pCalendar.get(), ICAL_X_PROPERTY)) {
            if (Text(icalproperty_get_x_name(p)) == "X-WR-CALNAME") {
                imported.strCalendarName = Text(icalproperty_get_x(p));
            }
        }
        for (icalcomponent* p = icalcomponent_get_first_component(pCalendar.get(), ICAL_VEVENT_COMPONENT); p != nullptr;
             p = icalcomponent_get_next_component(pCalendar.get(), ICAL_VEVENT_COMPONENT)) {
            CVevent ev;
            switch (ReadVevent(p, zones, file, vevents.size(), ev, skipped)) {
            case EVeventResult::READ: vevents.push_back(std::move(ev)); break;
            case EVeventResult::ENDS_BEFORE_START: ++imported.nEndsBeforeStart; break;
            case EVeventResult::SKIPPED: break;
            }
        }
    }
    std::stable_sort(skipped.begin(), skipped.end(),
                     [](const CIcsSkip& a, const CIcsSkip& b) { return a.nLine < b.nLine; });
    if (options.bStrict && !skipped.empty()) {
        strError = Describe(strPath, skipped.front());
        return false;
    }
    if (options.bStrict && imported.nEndsBeforeStart > 0) {
        strError = strPath + ": an event ends before it begins";
        return false;
    }

    // One copy of each event: an updated copy left in the file replaces the older.
    std::map<std::string, size_t> masters;
    for (size_t i = 0; i < vevents.size(); ++i) {
        const CVevent& ev = vevents[i];
        if (ev.bOverride || ev.strUid.empty()) {
            continue;
        }
        const auto inserted = masters.emplace(ev.strUid, i);
        if (!inserted.second) {
            ++imported.nDuplicates;
            if (ev.SupersedesCopy(vevents[inserted.first->second])) {
                inserted.first->second = i;
            }
        }
    }
    std::map<size_t, std::vector<const CVevent*>> overridesOf;
    std::map<std::pair<std::string, std::string>, const CVevent*> lone;  // RECURRENCE-IDs without their series
    for (const CVevent& ev : vevents) {
        if (!ev.bOverride) {
            continue;
        }
        const auto it = ev.strUid.empty() ? masters.end() : masters.find(ev.strUid);
        if (it != masters.end()) {
            overridesOf[it->second].push_back(&ev);
            continue;
        }
        const CVevent*& pSlot = lone[{ev.strUid, LoneEvent(ev).strRecurrenceId}];
        if (pSlot == nullptr || ev.SupersedesCopy(*pSlot)) {
            pSlot = &ev;
        }
    }

    size_t nTotal = 0;
    for (size_t i = 0; i < vevents.size(); ++i) {
        const CVevent& ev = vevents[i];
        if (ev.bOverride) {
            if (!ev.bCancelled && lone[{ev.strUid, LoneEvent(ev).strRecurrenceId}] == &ev) {
                imported.events.push_back(LoneEvent(ev));
                ++nTotal;
            }
            continue;
        }
        if (!ev.strUid.empty() && masters.at(ev.strUid) != i) {
            continue;
        }
        const auto it = overridesOf.find(i);
        if (!ev.Repeats() && it == overridesOf.end()) {
            imported.events.push_back(LoneEvent(ev));
            ++nTotal;
            continue;
        }
        static const std::vector<const CVevent*> s_none;
        if (!EmitSeries(ev, it != overridesOf.end() ? it->second : s_none, options, nTotal, imported.events,
                        strError)) {
            strError = strPath + ": " + strError;
            return false;
        }
    }
    if (int64_t(nTotal) > options.limits.llMaxOccurrences) {
        strError = strPath + ": more than " + std::to_string(options.limits.llMaxOccurrences) +
                   " events and occurrences up to the horizon (raise the bound with --max-occurrences)";
        return false;
    }
    imported.skipped = std::move(skipped);
    result = std::move(imported);
    return true;
}
