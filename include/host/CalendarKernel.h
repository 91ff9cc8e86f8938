// The host application's COM interfaces that the store calls or implements.
//
// Every slot of each table is declared, so that the slot numbers hold: a slot the
// store never calls is a ReservedN placeholder (N is its slot number). IUnknown
// takes slots 0 to 2 and, where an interface derives from IDispatch, IDispatch
// takes 3 to 6. A host may implement these with C++ classes or with plain tables
// of function pointers.
#pragma once

#include "compat/win32.h"

#define CALHOST_RESERVED_SLOT(n) virtual HRESULT STDMETHODCALLTYPE Reserved##n() = 0

struct ICalendarItem;
struct IEventItem;
struct ICalendarItemFactory;
struct IEventItemFactory;
struct ICalendarAccount;

inline constexpr IID IID_ICalendarKernel = {
    0x499BD4A7, 0xE007, 0x4887, {0xB3, 0xF8, 0x08, 0xD3, 0x67, 0xA2, 0x01, 0x00}};
inline constexpr IID IID_ICalendarAccount = {
    0x56510351, 0xD01F, 0x4500, {0xA2, 0x3F, 0xF8, 0xC2, 0x9B, 0x01, 0xFF, 0xBD}};
inline constexpr IID IID_IAccountSettings = {
    0x2C3F29CA, 0xF983, 0x4897, {0xA5, 0x45, 0x22, 0x21, 0x77, 0x3B, 0xC5, 0xA6}};
inline constexpr IID IID_ICalendarItemFactory = {
    0x4BF36BB1, 0x5808, 0x45A2, {0x8E, 0xE8, 0x01, 0x09, 0x5B, 0xB1, 0x3B, 0x9C}};
inline constexpr IID IID_IEventItemFactory = {
    0xD59707C1, 0x0A3C, 0x4B7E, {0xA6, 0x0C, 0xED, 0x43, 0xC9, 0x32, 0x68, 0x2B}};
inline constexpr IID IID_ICalendarVisitor = {
    0xA4C53785, 0x3208, 0x458E, {0xBB, 0xDB, 0x6E, 0x77, 0x77, 0x7D, 0x8A, 0xF4}};
inline constexpr IID IID_IEventVisitor = {0x56404425, 0x4F8F, 0x400E, {0x88, 0x45, 0x6A, 0x21, 0xD9, 0xBB, 0x74, 0x1D}};
inline constexpr IID IID_ICalendarItem = {0x3A00D3F5, 0xA2A4, 0x4D96, {0x85, 0x2D, 0x00, 0xA8, 0xD7, 0x42, 0x63, 0xEE}};
inline constexpr IID IID_IEventItem = {0xE7AA7EBA, 0xE54B, 0x422B, {0xAF, 0xEF, 0x9D, 0x97, 0xF6, 0x98, 0x30, 0xD8}};
inline constexpr IID IID_IExtendKernalSequence = {
    0xC38A17BF, 0xF2BB, 0x4FBB, {0x83, 0x8B, 0x34, 0xDA, 0xBF, 0x34, 0xDB, 0x55}};

// The host's kernel: the source of the signed-in account and of the item factories.
struct ICalendarKernel : public IDispatch {
    CALHOST_RESERVED_SLOT(7);
    CALHOST_RESERVED_SLOT(8);
    CALHOST_RESERVED_SLOT(9);
    virtual HRESULT STDMETHODCALLTYPE get_CalendarFactory(ICalendarItemFactory** ppFactory) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE get_EventFactory(IEventItemFactory** ppFactory) = 0;        // 11
    CALHOST_RESERVED_SLOT(12);
    virtual HRESULT STDMETHODCALLTYPE get_Account(ICalendarAccount** ppAccount) = 0;  // 13
};

struct ICalendarAccount : public IDispatch {
    CALHOST_RESERVED_SLOT(7);
    CALHOST_RESERVED_SLOT(8);
    CALHOST_RESERVED_SLOT(9);
    virtual HRESULT STDMETHODCALLTYPE get_UIN(ULONG* pdwUIN) = 0;  // 10
    CALHOST_RESERVED_SLOT(11);
    virtual HRESULT STDMETHODCALLTYPE get_AltUIN(ULONG* pdwAltUIN) = 0;  // 12, 0 when there is none
    CALHOST_RESERVED_SLOT(13);
    CALHOST_RESERVED_SLOT(14);
    CALHOST_RESERVED_SLOT(15);
    CALHOST_RESERVED_SLOT(16);
    CALHOST_RESERVED_SLOT(17);
    CALHOST_RESERVED_SLOT(18);
    virtual HRESULT STDMETHODCALLTYPE get_Settings(IUnknown** ppSettings) = 0;  // 19, answers IAccountSettings
};

struct IAccountSettings : public IDispatch {
    CALHOST_RESERVED_SLOT(7);
    virtual HRESULT STDMETHODCALLTYPE GetByteValue(BSTR bsName, BYTE* pcValue) = 0;  // 8
};

struct ICalendarItemFactory : public IDispatch {
    CALHOST_RESERVED_SLOT(7);
    CALHOST_RESERVED_SLOT(8);
    CALHOST_RESERVED_SLOT(9);
    CALHOST_RESERVED_SLOT(10);
    CALHOST_RESERVED_SLOT(11);
    CALHOST_RESERVED_SLOT(12);
    virtual HRESULT STDMETHODCALLTYPE CreateItem(ICalendarItem** ppItem) = 0;  // 13, a new, empty item
};

struct IEventItemFactory : public IDispatch {
    CALHOST_RESERVED_SLOT(7);
    CALHOST_RESERVED_SLOT(8);
    CALHOST_RESERVED_SLOT(9);
    CALHOST_RESERVED_SLOT(10);
    CALHOST_RESERVED_SLOT(11);
    CALHOST_RESERVED_SLOT(12);
    virtual HRESULT STDMETHODCALLTYPE CreateItem(IEventItem** ppItem) = 0;  // 13, a new, empty item
};

// Takes one item of an enumeration; setting *pbStop to non-zero ends it.
struct ICalendarVisitor : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Visit(ICalendarItem* pItem, LONG* pbStop) = 0;  // 3
};

struct IEventVisitor : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Visit(IEventItem* pItem, LONG* pbStop) = 0;  // 3
};

// A calendar of the host. Properties carry the names of the columns they map to.
struct ICalendarItem : public IDispatch {
    CALHOST_RESERVED_SLOT(7);
    virtual HRESULT STDMETHODCALLTYPE put_UIN(LONG lUIN) = 0;              // 8
    virtual HRESULT STDMETHODCALLTYPE get_CalType(LONG* plCalType) = 0;    // 9
    virtual HRESULT STDMETHODCALLTYPE put_CalType(LONG lCalType) = 0;      // 10
    virtual HRESULT STDMETHODCALLTYPE get_CalID(LONG* plCalID) = 0;        // 11
    virtual HRESULT STDMETHODCALLTYPE put_CalID(LONG lCalID) = 0;          // 12
    virtual HRESULT STDMETHODCALLTYPE get_ShrLevel(LONG* plShrLevel) = 0;  // 13
    virtual HRESULT STDMETHODCALLTYPE put_ShrLevel(LONG lShrLevel) = 0;    // 14
    virtual HRESULT STDMETHODCALLTYPE get_TmStamp(LONG* plTmStamp) = 0;    // 15
    virtual HRESULT STDMETHODCALLTYPE put_TmStamp(LONG lTmStamp) = 0;      // 16
    virtual HRESULT STDMETHODCALLTYPE get_Subject(BSTR* pbsSubject) = 0;   // 17
    virtual HRESULT STDMETHODCALLTYPE put_Subject(BSTR bsSubject) = 0;     // 18
    virtual HRESULT STDMETHODCALLTYPE get_Ext1(BSTR* pbsExt1) = 0;         // 19
    virtual HRESULT STDMETHODCALLTYPE put_Ext1(BSTR bsExt1) = 0;           // 20
    virtual HRESULT STDMETHODCALLTYPE get_Detail(BSTR* pbsDetail) = 0;     // 21
    virtual HRESULT STDMETHODCALLTYPE put_Detail(BSTR bsDetail) = 0;       // 22
    CALHOST_RESERVED_SLOT(23);
    CALHOST_RESERVED_SLOT(24);
    CALHOST_RESERVED_SLOT(25);
    CALHOST_RESERVED_SLOT(26);
    CALHOST_RESERVED_SLOT(27);
    CALHOST_RESERVED_SLOT(28);
    CALHOST_RESERVED_SLOT(29);
    CALHOST_RESERVED_SLOT(30);
    CALHOST_RESERVED_SLOT(31);
    virtual HRESULT STDMETHODCALLTYPE get_ContactID(BSTR* pbsContactID) = 0;      // 32
    virtual HRESULT STDMETHODCALLTYPE get_ContactInfo(BSTR* pbsContactInfo) = 0;  // 33
    CALHOST_RESERVED_SLOT(34);
    CALHOST_RESERVED_SLOT(35);
    CALHOST_RESERVED_SLOT(36);
    virtual HRESULT STDMETHODCALLTYPE SetContact(BSTR bsContactID, BSTR bsContactInfo) = 0;  // 37
    virtual HRESULT STDMETHODCALLTYPE SetOwner(LONG lOwnerUIN, LONG lFromCalID) = 0;         // 38
    virtual HRESULT STDMETHODCALLTYPE GetSponsor(LONG* plSponsorID, LONG* plFromCalID) = 0;  // 39
};

// An event of the host. The 8-bit properties pass one byte; Valid is a 16-bit boolean.
struct IEventItem : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_CalID(LONG* plCalID) = 0;                // 7
    virtual HRESULT STDMETHODCALLTYPE put_CalID(LONG lCalID) = 0;                  // 8
    virtual HRESULT STDMETHODCALLTYPE get_EvtID(LONG* plEvtID) = 0;                // 9
    virtual HRESULT STDMETHODCALLTYPE put_EvtID(LONG lEvtID) = 0;                  // 10
    virtual HRESULT STDMETHODCALLTYPE get_EvtType(LONG* plEvtType) = 0;            // 11
    virtual HRESULT STDMETHODCALLTYPE put_EvtType(LONG lEvtType) = 0;              // 12
    virtual HRESULT STDMETHODCALLTYPE get_BgnTm(LONG* plBgnTm) = 0;                // 13
    virtual HRESULT STDMETHODCALLTYPE put_BgnTm(LONG lBgnTm) = 0;                  // 14
    virtual HRESULT STDMETHODCALLTYPE get_EndTm(LONG* plEndTm) = 0;                // 15
    virtual HRESULT STDMETHODCALLTYPE put_EndTm(LONG lEndTm) = 0;                  // 16
    virtual HRESULT STDMETHODCALLTYPE get_TmStamp(LONG* plTmStamp) = 0;            // 17
    virtual HRESULT STDMETHODCALLTYPE put_TmStamp(LONG lTmStamp) = 0;              // 18
    virtual HRESULT STDMETHODCALLTYPE get_TipType(BYTE* pcTipType) = 0;            // 19
    virtual HRESULT STDMETHODCALLTYPE put_TipType(BYTE cTipType) = 0;              // 20
    virtual HRESULT STDMETHODCALLTYPE get_Day(LONG* plDay) = 0;                    // 21
    virtual HRESULT STDMETHODCALLTYPE put_Day(LONG lDay) = 0;                      // 22
    virtual HRESULT STDMETHODCALLTYPE get_Week(BYTE* pcWeek) = 0;                  // 23
    virtual HRESULT STDMETHODCALLTYPE put_Week(BYTE cWeek) = 0;                    // 24
    virtual HRESULT STDMETHODCALLTYPE get_Month(BYTE* pcMonth) = 0;                // 25
    virtual HRESULT STDMETHODCALLTYPE put_Month(BYTE cMonth) = 0;                  // 26
    virtual HRESULT STDMETHODCALLTYPE get_LoopType(LONG* plLoopType) = 0;          // 27
    virtual HRESULT STDMETHODCALLTYPE put_LoopType(LONG lLoopType) = 0;            // 28
    virtual HRESULT STDMETHODCALLTYPE get_Subject(BSTR* pbsSubject) = 0;           // 29
    virtual HRESULT STDMETHODCALLTYPE put_Subject(BSTR bsSubject) = 0;             // 30
    virtual HRESULT STDMETHODCALLTYPE get_Detail(BSTR* pbsDetail) = 0;             // 31
    virtual HRESULT STDMETHODCALLTYPE put_Detail(BSTR bsDetail) = 0;               // 32
    virtual HRESULT STDMETHODCALLTYPE get_Synchronized(LONG* plSynchronized) = 0;  // 33
    virtual HRESULT STDMETHODCALLTYPE put_Synchronized(LONG lSynchronized) = 0;    // 34
    virtual HRESULT STDMETHODCALLTYPE get_RevisedState(LONG* plRevisedState) = 0;  // 35
    virtual HRESULT STDMETHODCALLTYPE put_RevisedState(LONG lRevisedState) = 0;    // 36
    CALHOST_RESERVED_SLOT(37);
    CALHOST_RESERVED_SLOT(38);
    CALHOST_RESERVED_SLOT(39);
    virtual HRESULT STDMETHODCALLTYPE get_RemindMinute(LONG* plRemindMinute) = 0;  // 40
    virtual HRESULT STDMETHODCALLTYPE put_RemindMinute(LONG lRemindMinute) = 0;    // 41
    virtual HRESULT STDMETHODCALLTYPE get_ContactID(BSTR* pbsContactID) = 0;       // 42
    virtual HRESULT STDMETHODCALLTYPE get_ContactInfo(BSTR* pbsContactInfo) = 0;   // 43
    virtual HRESULT STDMETHODCALLTYPE get_Location(BSTR* pbsLocation) = 0;         // 44
    virtual HRESULT STDMETHODCALLTYPE put_Location(BSTR bsLocation) = 0;           // 45
    virtual HRESULT STDMETHODCALLTYPE get_Valid(VARIANT_BOOL* pbValid) = 0;        // 46
    virtual HRESULT STDMETHODCALLTYPE put_Valid(VARIANT_BOOL bValid) = 0;          // 47
    virtual HRESULT STDMETHODCALLTYPE get_SponsorID(LONG* plSponsorID) = 0;        // 48
    virtual HRESULT STDMETHODCALLTYPE put_SponsorID(LONG lSponsorID) = 0;          // 49
    virtual HRESULT STDMETHODCALLTYPE get_WeekNum(BYTE* pcWeekNum) = 0;            // 50
    virtual HRESULT STDMETHODCALLTYPE put_WeekNum(BYTE cWeekNum) = 0;              // 51
    virtual HRESULT STDMETHODCALLTYPE get_CalType(LONG* plCalType) = 0;            // 52
    virtual HRESULT STDMETHODCALLTYPE put_CalType(LONG lCalType) = 0;              // 53
    virtual HRESULT STDMETHODCALLTYPE get_EndType(LONG* plEndType) = 0;            // 54
    virtual HRESULT STDMETHODCALLTYPE put_EndType(LONG lEndType) = 0;              // 55
    CALHOST_RESERVED_SLOT(56);
    virtual HRESULT STDMETHODCALLTYPE get_LoopCalID(LONG* plLoopCalID) = 0;      // 57
    virtual HRESULT STDMETHODCALLTYPE put_LoopCalID(LONG lLoopCalID) = 0;        // 58
    virtual HRESULT STDMETHODCALLTYPE get_LoopEventID(LONG* plLoopEventID) = 0;  // 59
    virtual HRESULT STDMETHODCALLTYPE put_LoopEventID(LONG lLoopEventID) = 0;    // 60
    CALHOST_RESERVED_SLOT(61);
    virtual HRESULT STDMETHODCALLTYPE get_EventRight(LONG* plEventRight) = 0;      // 62
    virtual HRESULT STDMETHODCALLTYPE put_EventRight(LONG lEventRight) = 0;        // 63
    virtual HRESULT STDMETHODCALLTYPE get_ContactIDDisplay(BSTR* pbsDisplay) = 0;  // 64
    virtual HRESULT STDMETHODCALLTYPE get_ContactIDInvalid(BSTR* pbsInvalid) = 0;  // 65
    virtual HRESULT STDMETHODCALLTYPE SetContacts(BSTR bsContactID, BSTR bsContactInfo, BSTR bsContactIDInvalid,
                                                  BSTR bsContactIDDisplay) = 0;  // 66
    CALHOST_RESERVED_SLOT(67);
    virtual HRESULT STDMETHODCALLTYPE get_CalOwnerUin(LONG* plCalOwnerUin) = 0;  // 68
    virtual HRESULT STDMETHODCALLTYPE put_CalOwnerUin(LONG lCalOwnerUin) = 0;    // 69
    virtual HRESULT STDMETHODCALLTYPE get_EventStatus(LONG* plEventStatus) = 0;  // 70
    virtual HRESULT STDMETHODCALLTYPE put_EventStatus(LONG lEventStatus) = 0;    // 71
    CALHOST_RESERVED_SLOT(72);
    CALHOST_RESERVED_SLOT(73);
    CALHOST_RESERVED_SLOT(74);
    virtual HRESULT STDMETHODCALLTYPE get_Ext3(BSTR* pbsExt3) = 0;  // 75
};

// The host's start and stop sequence, implemented by the store object.
struct IExtendKernalSequence : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE StartSequence(ICalendarKernel* pKernel) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE RunSequence() = 0;                            // 4
    virtual HRESULT STDMETHODCALLTYPE EndStartupBatch() = 0;                        // 5
    virtual HRESULT STDMETHODCALLTYPE StopSequence() = 0;                           // 6
};
