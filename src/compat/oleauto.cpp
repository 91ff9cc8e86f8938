#include "compat/oleauto.h"

#ifndef _WIN32

#include <cstdlib>
#include <cstring>

namespace {

// The byte count sits in the four bytes before the text.
DWORD* ByteCountOf(BSTR bstr)
{
    return reinterpret_cast<DWORD*>(reinterpret_cast<char*>(bstr) - sizeof(DWORD));
}

}  // namespace

extern "C" {

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui)
{
    // The byte count must fit in 32 bits, as on Windows.
    if (ui > (0xFFFFFFFFu - sizeof(DWORD) - sizeof(OLECHAR)) / sizeof(OLECHAR)) {
        return nullptr;
    }
    const size_t cbText = static_cast<size_t>(ui) * sizeof(OLECHAR);
    char* pBlock = static_cast<char*>(std::malloc(sizeof(DWORD) + cbText + sizeof(OLECHAR)));
    if (pBlock == nullptr) {
        return nullptr;
    }
    const DWORD cbStored = static_cast<DWORD>(cbText);
    std::memcpy(pBlock, &cbStored, sizeof(cbStored));
    BSTR bstr = reinterpret_cast<BSTR>(pBlock + sizeof(DWORD));
    if (strIn != nullptr) {
        std::memcpy(bstr, strIn, cbText);
    } else {
        std::memset(bstr, 0, cbText);
    }
    bstr[ui] = 0;
    return bstr;
}

BSTR WINAPI SysAllocString(const OLECHAR* psz)
{
    if (psz == nullptr) {
        return nullptr;
    }
    const size_t cch = WStrLen(psz);
    if (cch > 0x7FFFFFFFu) {
        return nullptr;
    }
    return SysAllocStringLen(psz, static_cast<UINT>(cch));
}

void WINAPI SysFreeString(BSTR bstrString)
{
    if (bstrString != nullptr) {
        std::free(ByteCountOf(bstrString));
    }
}

UINT WINAPI SysStringByteLen(BSTR bstr)
{
    return bstr != nullptr ? *ByteCountOf(bstr) : 0;
}

UINT WINAPI SysStringLen(BSTR pbstr)
{
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

}  // extern "C"

#endif  // _WIN32
