#!/usr/bin/env python3
"""The yardstick for calstore's import: reads an iCalendar file with the icalendar
package and stores its events as rows of the store's Event table, in one
transaction.   usage: ics_import.py FILE.ics OUT.db"""
import sqlite3
import sys

try:
    from icalendar import Calendar
except ImportError:
    sys.exit(3)

CREATE_EVENT = (
    "create table if not exists Event(CalID int,EvtID int,EvtType int,BgnTm int,EndTm int,TmStamp int,"
    "TipType int,Minute int,Hour int,Day int,Week int,Month int,LoopType int,subject text,detail text,"
    "Synchronized int,RevisedState int ,RemindMinute int,ContactID text,ContactInfo text,Location text,"
    "SponsorID int,WeekNum int,MonthNum int,Year int,CalType int,EndType int,SwitchTimes int,LoopCalID int,"
    "LoopEventID int,CalOwnerUin int,EventRight int,ContactIDDisplay text,ContactIDInvalid text,"
    "EventStatus int, Valid int,ext1 text,ext2 text,ext3 text,ext4 int, ext5 int,nums int);")


def main(ics_path, db_path, cal_id=1):
    with open(ics_path, "rb") as ics:
        calendar = Calendar.from_ical(ics.read())
    rows = []
    for evt_id, event in enumerate(calendar.walk("VEVENT"), start=1):
        begin = int(event.decoded("DTSTART").timestamp())
        end = int(event.decoded("DTEND").timestamp()) if "DTEND" in event else begin
        rows.append((cal_id, evt_id, begin, end, str(event.get("SUMMARY", "")),
                     str(event.get("DESCRIPTION", "")), str(event.get("LOCATION", "")),
                     str(event.get("UID", ""))))
    db = sqlite3.connect(db_path)
    db.execute(CREATE_EVENT)
    with db:
        db.executemany("insert into Event(CalID, EvtID, BgnTm, EndTm, subject, detail, Location, ext3) "
                       "values(?, ?, ?, ?, ?, ?, ?, ?)", rows)
    db.close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
