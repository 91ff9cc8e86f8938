// Writing an iCalendar file: libical formats, escapes and folds; this file chooses
// how each event's times are written and replaces the target file whole.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "IcsFile.h"
#include "IcsTime.h"

namespace {

struct CComponentFree {
    void operator()(icalcomponent* p) const { icalcomponent_free(p); }
};
using CComponentPtr = std::unique_ptr<icalcomponent, CComponentFree>;

icaltimetype UtcTime(int64_t llTime)
{
    return icaltime_from_timet_with_zone(static_cast<time_t>(llTime), 0, icaltimezone_get_utc_timezone());
}

// The day of a stored all-day time: the local midnight nearest to it, so that a
// day stays that day when the machine's zone moved a few hours since the import.
icaltimetype NearestDate(int64_t llTime)
{
    return ToIcal(UnixToLocal(llTime + 43200), true);
}

icalcomponent* NewVevent(const CIcsEvent& event, const icaltimetype& stamp)
{
    icalcomponent* pEvent = icalcomponent_new_vevent();
    // No UID line for an empty UID: libical refuses its own "UID:" on reading.
    if (!event.strUid.empty()) {
        icalcomponent_add_property(pEvent, icalproperty_new_uid(event.strUid.c_str()));
    }
    icalcomponent_add_property(pEvent, icalproperty_new_dtstamp(stamp));
    const int64_t llEnd = std::max(event.llEnd, event.llBegin);
    icaltimetype start;
    icaltimetype end;
    switch (event.eKind) {
    case ETimeKind::DAY:
        start = NearestDate(event.llBegin);
        end = NearestDate(llEnd);
        if (icaltime_compare_date_only(end, start) <= 0) {
            end = start;
            icaltime_adjust(&end, 1, 0, 0, 0);
        }
        break;
    case ETimeKind::FLOATING:
        start = ToIcal(UnixToLocal(event.llBegin), false);
        end = ToIcal(UnixToLocal(llEnd), false);
        break;
    case ETimeKind::INSTANT:
    default:
        start = UtcTime(event.llBegin);
        end = UtcTime(llEnd);
        break;
    }
    icalcomponent_add_property(pEvent, icalproperty_new_dtstart(start));
    icalcomponent_add_property(pEvent, icalproperty_new_dtend(end));
    if (!event.strRecurrenceId.empty()) {
        // Already in iCalendar's own form: a date, a floating time or UTC.
        icalcomponent_add_property(pEvent,
                                   icalproperty_new_recurrenceid(icaltime_from_string(event.strRecurrenceId.c_str())));
    }
    const CIcsTexts& texts = *event.pTexts;
    if (!texts.strSummary.empty()) {
        icalcomponent_add_property(pEvent, icalproperty_new_summary(texts.strSummary.c_str()));
    }
    if (!texts.strDescription.empty()) {
        icalcomponent_add_property(pEvent, icalproperty_new_description(texts.strDescription.c_str()));
    }
    if (!texts.strLocation.empty()) {
        icalcomponent_add_property(pEvent, icalproperty_new_location(texts.strLocation.c_str()));
    }
    return pEvent;
}

bool WriteAll(int fd, const std::string& strData)
{
    size_t nDone = 0;
    while (nDone < strData.size()) {
        const ssize_t cb = ::write(fd, strData.data() + nDone, strData.size() - nDone);
        if (cb < 0 && errno == EINTR) {
            continue;
        }
        if (cb <= 0) {
            return false;
        }
        nDone += static_cast<size_t>(cb);
    }
    return true;
}

// Writes into a new file beside the target and renames it over the target, so
// that readers see the old file or the complete new one, never half of it.
bool ReplaceFile(const std::string& strPath, const std::string& strData, std::string& strError)
{
    static std::atomic<unsigned> s_nCounter{0};
    std::string strTemp;
    int fd = -1;
    for (int nTry = 0; nTry < 100 && fd < 0; ++nTry) {
        strTemp = strPath + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(s_nCounter++);
        fd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        strError = "cannot write " + strPath + ": " + std::strerror(errno);
        return false;
    }
    const bool bWritten = WriteAll(fd, strData) && ::fsync(fd) == 0;
    int nErr = errno;
    const bool bClosed = ::close(fd) == 0;
    if (bWritten && !bClosed) {
        nErr = errno;
    }
    if (!bWritten || !bClosed || ::rename(strTemp.c_str(), strPath.c_str()) != 0) {
        if (bWritten && bClosed) {
            nErr = errno;
        }
        ::unlink(strTemp.c_str());
        strError = "cannot write " + strPath + ": " + std::strerror(nErr);
        return false;
    }
    return true;
}

}  // namespace

bool WriteIcsFile(const std::string& strPath, const std::string& strCalendarName, const std::vector<CIcsEvent>& events,
                  std::string& strError)
{
    strError.clear();
    CComponentPtr pCalendar(icalcomponent_new_vcalendar());
    if (pCalendar == nullptr) {
        strError = "cannot write " + strPath + ": out of memory";
        return false;
    }
    icalcomponent_add_property(pCalendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(pCalendar.get(), icalproperty_new_prodid("-//Brellin//calstore//EN"));
    if (!strCalendarName.empty()) {
        icalproperty* pName = icalproperty_new_x(strCalendarName.c_str());
        icalproperty_set_x_name(pName, "X-WR-CALNAME");
        icalcomponent_add_property(pCalendar.get(), pName);
    }
    const icaltimetype stamp = UtcTime(static_cast<int64_t>(std::time(nullptr)));
    for (const CIcsEvent& event : events) {
        icalcomponent_add_component(pCalendar.get(), NewVevent(event, stamp));
    }
    char* pszText = icalcomponent_as_ical_string_r(pCalendar.get());
    if (pszText == nullptr) {
        strError = "cannot write " + strPath + ": libical could not format the calendar";
        return false;
    }
    const std::string strText = pszText;
    icalmemory_free_buffer(pszText);
    return ReplaceFile(strPath, strText, strError);
}
