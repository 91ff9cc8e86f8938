// Collects the records of a list operation in one contiguous array.
#pragma once

#include <cstdlib>
#include <cstring>
#include <new>

#include "media/CalendarRecords.h"

// Grows the array with realloc, which moves large blocks without copying them;
// an event record is about 19 KB, so a calendar of tens of thousands of events
// must not be held twice.
template <typename TRecord>
class CRecordArray {
public:
    CRecordArray() = default;
    CRecordArray(const CRecordArray&) = delete;
    CRecordArray& operator=(const CRecordArray&) = delete;
    ~CRecordArray() { FreeRecordArray(m_pArray); }

    // A new zero-filled record at the end; throws std::bad_alloc.
    TRecord& AppendZeroed()
    {
        if (m_nCount == m_nCapacity) {
            const size_t nCapacity = m_nCapacity == 0 ? 16 : m_nCapacity * 2;
            void* pGrown = std::realloc(static_cast<void*>(m_pArray), nCapacity * sizeof(TRecord));
            if (pGrown == nullptr) {
                throw std::bad_alloc();
            }
            m_pArray = static_cast<TRecord*>(pGrown);
            m_nCapacity = nCapacity;
        }
        TRecord& rec = m_pArray[m_nCount++];
        std::memset(static_cast<void*>(&rec), 0, sizeof(TRecord));
        return rec;
    }

    int Count() const { return static_cast<int>(m_nCount); }

    // Hands the array to the caller; null when it is empty.
    TRecord* Release()
    {
        TRecord* pArray = m_pArray;
        if (m_nCount == 0) {
            FreeRecordArray(pArray);
            pArray = nullptr;
        } else if (m_nCount < m_nCapacity) {
            // Give back the unused tail; keeping the larger block is fine if that fails.
            if (void* pShrunk = std::realloc(static_cast<void*>(pArray), m_nCount * sizeof(TRecord))) {
                pArray = static_cast<TRecord*>(pShrunk);
            }
        }
        m_pArray = nullptr;
        m_nCount = m_nCapacity = 0;
        return pArray;
    }

private:
    TRecord* m_pArray = nullptr;
    size_t m_nCount = 0;
    size_t m_nCapacity = 0;
};
