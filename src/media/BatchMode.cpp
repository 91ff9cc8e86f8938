// Batch mode: one connection and one transaction for a burst of writes.
#include "media/VxCalStoreMedia.h"

HRESULT CVxCalStoreMedia::BeginTransaction() { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::CommitTransaction() { return E_NOTIMPL; }
HRESULT CVxCalStoreMedia::SetBatchMode(BOOL) { return E_NOTIMPL; }
