#include "compat/unknwn.h"

#ifndef _WIN32

namespace {

// Each thread has its own error object, as in COM.
thread_local IErrorInfo* t_pErrorInfo = nullptr;

}  // namespace

extern "C" {

HRESULT WINAPI GetErrorInfo(ULONG /*dwReserved*/, IErrorInfo** pperrinfo)
{
    if (pperrinfo == nullptr) {
        return E_INVALIDARG;
    }
    *pperrinfo = t_pErrorInfo;
    t_pErrorInfo = nullptr;
    return *pperrinfo != nullptr ? S_OK : S_FALSE;
}

HRESULT WINAPI SetErrorInfo(ULONG /*dwReserved*/, IErrorInfo* perrinfo)
{
    if (perrinfo != nullptr) {
        perrinfo->AddRef();
    }
    IErrorInfo* pPrevious = t_pErrorInfo;
    t_pErrorInfo = perrinfo;
    if (pPrevious != nullptr) {
        pPrevious->Release();
    }
    return S_OK;
}

}  // extern "C"

#endif  // _WIN32
