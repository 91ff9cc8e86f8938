// Late-bound access to the store object's dual interfaces.
#include "store/VxCalStoreData.h"

template <typename TInterface>
HRESULT CVxDualInterface<TInterface>::GetTypeInfoCount(UINT* pctinfo)
{
    if (pctinfo == nullptr) {
        return E_POINTER;
    }
    *pctinfo = 0;
    return S_OK;
}

template <typename TInterface>
HRESULT CVxDualInterface<TInterface>::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo != nullptr) {
        *ppTInfo = nullptr;
    }
    return E_NOTIMPL;
}

template <typename TInterface>
HRESULT CVxDualInterface<TInterface>::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

template <typename TInterface>
HRESULT CVxDualInterface<TInterface>::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}

template class CVxDualInterface<IVxCalStoreData>;
template class CVxDualInterface<IVxCalStoreConfig>;
