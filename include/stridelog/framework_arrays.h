/* The three framework array objects two entry points take. The SDK reads them in
 * place: the element pointer is the second pointer-sized word of the object and
 * the element count the third, exactly as the framework lays them out. A host
 * builds one by filling those two words; the other words are never read. */
#ifndef STRIDELOG_FRAMEWORK_ARRAYS_H
#define STRIDELOG_FRAMEWORK_ARRAYS_H

#include "win_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A framework string object: one pointer to NUL-terminated UTF-16 text. */
typedef struct CString {
    const WCHAR* m_pszData;
} CString;

typedef struct CUIntArray {
    const void* m_vtable; /* unused by the SDK */
    UINT* m_pData;        /* 32-bit unsigned session indices */
    intptr_t m_nSize;     /* element count */
    intptr_t m_nMaxSize;
    intptr_t m_nGrowBy;
} CUIntArray;

typedef struct CPtrArray {
    const void* m_vtable;
    void** m_pData;
    intptr_t m_nSize;
    intptr_t m_nMaxSize;
    intptr_t m_nGrowBy;
} CPtrArray;

typedef struct CStringArray {
    const void* m_vtable;
    CString* m_pData;
    intptr_t m_nSize;
    intptr_t m_nMaxSize;
    intptr_t m_nGrowBy;
} CStringArray;

#ifdef __cplusplus
}
#endif

#endif
