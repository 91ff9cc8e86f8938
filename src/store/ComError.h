// The COM error condition: a failed call into a host object, carried as an
// exception from where it happens to the method that reports it.
#pragma once

#include <new>

#include "compat/win32.h"
#include "store/ComRef.h"

class CComError {
public:
    CComError(HRESULT hr, REFIID riid, IErrorInfo* pErrorInfo = nullptr)
        : m_hr(hr), m_iid(riid), m_spErrorInfo(pErrorInfo)
    {
    }

    HRESULT Error() const { return m_hr; }
    const IID& Iid() const { return m_iid; }
    // The failing object's own description of the error, when it gave one.
    IErrorInfo* ErrorInfo() const { return m_spErrorInfo.Get(); }

    // Hands the error on to the caller of a COM method: its description goes back
    // to the thread's error object, its code is the method's result.
    HRESULT Report() const;

private:
    HRESULT m_hr;
    IID m_iid;
    CComRef<IErrorInfo> m_spErrorInfo;
};

// Raises CComError for a failed result of a call on pObject through interface riid,
// with the object's error information when it supports it for that interface.
[[noreturn]] void ThrowComError(HRESULT hr, REFIID riid, IUnknown* pObject);

inline void CheckHost(HRESULT hr, REFIID riid, IUnknown* pObject)
{
    if (FAILED(hr)) {
        ThrowComError(hr, riid, pObject);
    }
}

// A host interface that must be there: a null pointer raises E_POINTER.
template <typename T>
T* RequireHost(T* p, REFIID riid)
{
    if (p == nullptr) {
        throw CComError(E_POINTER, riid);
    }
    return p;
}

// Hands the cause of a failure to the caller the COM way: a new error object on
// the thread, with the description, the IID of the interface that failed and the
// class's ProgID as its source. Callers ask ISupportErrorInfo, then GetErrorInfo.
void SetStoreErrorInfo(REFIID riid, const WString& strDescription);

// Runs the body of a COM method and turns whatever it raises into the method's
// result: a failed host call into its own HRESULT (its error information handed on
// to the caller), a failed allocation into E_OUTOFMEMORY, anything else into
// E_FAIL. No exception leaves a COM method.
template <typename TBody>
HRESULT ReportComErrors(TBody&& body)
{
    try {
        return body();
    } catch (const CComError& e) {
        return e.Report();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
