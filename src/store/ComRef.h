// Small owners for COM references and BSTRs.
#pragma once

#include <utility>

#include "compat/win32.h"

// One counted reference to a COM interface, released on destruction.
template <typename T>
class CComRef {
public:
    CComRef() = default;
    CComRef(T* p) : m_p(p)  // NOLINT(google-explicit-constructor): takes its own reference
    {
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }
    CComRef(const CComRef& other) : CComRef(other.m_p) {}
    CComRef(CComRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~CComRef() { Reset(); }

    CComRef& operator=(const CComRef& other)
    {
        CComRef(other).Swap(*this);
        return *this;
    }
    CComRef& operator=(CComRef&& other) noexcept
    {
        CComRef(std::move(other)).Swap(*this);
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // Releases the reference held and returns the slot for an out argument.
    T** Receive()
    {
        Reset();
        return &m_p;
    }

    // Takes over a reference that the caller already owns.
    void Attach(T* p)
    {
        Reset();
        m_p = p;
    }

    void Reset()
    {
        if (T* p = std::exchange(m_p, nullptr)) {
            p->Release();
        }
    }

    void Swap(CComRef& other) noexcept { std::swap(m_p, other.m_p); }

    // Asks pFrom for the interface riid; a null pFrom or a failed query leaves this
    // empty. Returns the query's result (E_POINTER for a null pFrom).
    HRESULT QueryFrom(IUnknown* pFrom, REFIID riid)
    {
        Reset();
        if (pFrom == nullptr) {
            return E_POINTER;
        }
        HRESULT hr = pFrom->QueryInterface(riid, reinterpret_cast<void**>(&m_p));
        if (FAILED(hr)) {
            m_p = nullptr;
        }
        return hr;
    }

private:
    T* m_p = nullptr;
};

// Owns one BSTR.
class CBstr {
public:
    CBstr() = default;
    explicit CBstr(const OLECHAR* psz) : m_bstr(SysAllocString(psz)) {}
    CBstr(const OLECHAR* psz, size_t cch) : m_bstr(SysAllocStringLen(psz, static_cast<UINT>(cch))) {}
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    ~CBstr() { SysFreeString(m_bstr); }

    BSTR Get() const { return m_bstr; }
    // The text, with a null BSTR read as the empty text.
    const OLECHAR* Text() const { return m_bstr != nullptr ? m_bstr : WTEXT(""); }
    UINT Length() const { return SysStringLen(m_bstr); }

    BSTR* Receive()
    {
        SysFreeString(m_bstr);
        m_bstr = nullptr;
        return &m_bstr;
    }

    BSTR Detach() { return std::exchange(m_bstr, nullptr); }

private:
    BSTR m_bstr = nullptr;
};
