// A small multicast event of member-function handlers, used by the batch timer.
//
// Handlers run on the thread that fires the event, in connection order. A firing
// works on a snapshot of the handler list: a handler may disconnect itself or any
// other handler (those not yet called are then skipped), and handlers connected
// during a firing wait for the next one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace Nerva {
namespace Nerva_Event {

struct NullType {};

// A callable target: an object and one of its member functions.
class MemberFuncBase {
public:
    virtual MemberFuncBase* Clone() const = 0;
    virtual bool Equals(const MemberFuncBase& other) const = 0;
    virtual ~MemberFuncBase() = default;
};

template <typename TObject, typename TFunc>
class MemberFuncImpl : public MemberFuncBase {
public:
    MemberFuncImpl(TObject* pObject, TFunc pfn) : m_pObject(pObject), m_pfn(pfn) {}

    MemberFuncBase* Clone() const override { return new MemberFuncImpl(m_pObject, m_pfn); }

    bool Equals(const MemberFuncBase& other) const override
    {
        const auto* pOther = dynamic_cast<const MemberFuncImpl*>(&other);
        return pOther != nullptr && pOther->m_pObject == m_pObject && pOther->m_pfn == m_pfn;
    }

    TObject* m_pObject;  // not owned
    TFunc m_pfn;
};

// One connection: the handler (owned when `owned` is set) and how to call it.
struct HandlerEntry {
    MemberFuncBase* handler;
    bool owned;
    void (*invoke)(HandlerEntry* pEntry);
    uint64_t serial;  // tells a live entry from a new one at the same address
};

template <int NParams>
struct EventHelper;

template <>
struct EventHelper<0> {
    template <typename TResult>
    class EventImpl;
};

// An event whose handlers take no arguments and return nothing.
template <>
class EventHelper<0>::EventImpl<void> {
public:
    // Handler types by parameter list; NullType: no parameters.
    template <typename TParam>
    struct Param {
        template <typename TObject, typename TFunc>
        class MemberFunc : public MemberFuncImpl<TObject, TFunc> {
        public:
            using MemberFuncImpl<TObject, TFunc>::MemberFuncImpl;

            static void Invoke(HandlerEntry* pEntry)
            {
                auto* pHandler = static_cast<MemberFunc*>(pEntry->handler);
                (pHandler->m_pObject->*pHandler->m_pfn)();
            }
        };
    };

    EventImpl() = default;
    EventImpl(const EventImpl&) = delete;
    EventImpl& operator=(const EventImpl&) = delete;

    // Deletes every entry, and every handler the event owns, without calling them.
    ~EventImpl()
    {
        for (HandlerEntry* pEntry : m_entries) {
            DeleteEntry(pEntry);
        }
    }

    // Appends a handler; the same one may be connected more than once.
    template <typename TObject, typename TFunc>
    void Connect(TObject* pObject, TFunc pfn)
    {
        using THandler = typename Param<NullType>::template MemberFunc<TObject, TFunc>;
        auto* pEntry = new HandlerEntry{new THandler(pObject, pfn), true, &THandler::Invoke, ++m_nLastSerial};
        m_entries.push_back(pEntry);
    }

    // Removes the first owned entry for this object and function; false when there
    // is none.
    template <typename TObject, typename TFunc>
    bool Disconnect(TObject* pObject, TFunc pfn)
    {
        const MemberFuncImpl<TObject, TFunc> probe(pObject, pfn);
        const auto it = std::find_if(m_entries.begin(), m_entries.end(), [&probe](const HandlerEntry* pEntry) {
            return pEntry->owned && pEntry->handler->Equals(probe);
        });
        if (it == m_entries.end()) {
            return false;
        }
        HandlerEntry* pEntry = *it;
        m_entries.erase(it);
        DeleteEntry(pEntry);
        return true;
    }

    void Fire()
    {
        struct CSnapshotEntry {
            HandlerEntry* pEntry;
            uint64_t serial;
        };
        std::vector<CSnapshotEntry> snapshot;
        snapshot.reserve(m_entries.size());
        for (HandlerEntry* pEntry : m_entries) {
            snapshot.push_back({pEntry, pEntry->serial});
        }
        for (const CSnapshotEntry& item : snapshot) {
            // Call only entries that are still connected: compared by identity and
            // serial, since a freed entry's address may be reused within the firing.
            const bool bLive = std::any_of(m_entries.begin(), m_entries.end(), [&item](const HandlerEntry* pEntry) {
                return pEntry == item.pEntry && pEntry->serial == item.serial;
            });
            if (bLive) {
                item.pEntry->invoke(item.pEntry);
            }
        }
    }

    size_t HandlerCount() const { return m_entries.size(); }

private:
    static void DeleteEntry(HandlerEntry* pEntry)
    {
        if (pEntry->owned) {
            delete pEntry->handler;
        }
        delete pEntry;
    }

    std::vector<HandlerEntry*> m_entries;
    uint64_t m_nLastSerial = 0;
};

}  // namespace Nerva_Event
}  // namespace Nerva
