// Writing an iCalendar file: libical formats, escapes and folds; this file chooses
// how each event's times are written and replaces the target file whole.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "IcsFile.h"
#include "IcsTime.h"
#include "compat/fileio.h"

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
    // Readers see the old file or the complete new one, never half of it.
    if (!compat::ReplaceWholeFile(strPath, strText)) {
        strError = "cannot write " + strPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
