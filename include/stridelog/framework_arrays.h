/**
 * @file framework_arrays.h
 * @brief The framework array objects that GetSelectedWorkout and SetPaths take.
 *
 * The SDK reads these objects in place, exactly as the desktop framework lays
 * them out: the element pointer is the second pointer-sized word of the object
 * and the element count the third. A host builds one by filling those two
 * words; the other words are never read.
 */
#ifndef STRIDELOG_FRAMEWORK_ARRAYS_H
#define STRIDELOG_FRAMEWORK_ARRAYS_H

#include "win_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/** A framework string object: one pointer to NUL-terminated UTF-16 text. */
typedef struct CString {
    const WCHAR* m_pszData; /**< the text; NULL reads as empty */
} CString;

/** An array of 32-bit unsigned integers (the session indices of GetSelectedWorkout). */
typedef struct CUIntArray {
    const void* m_vtable; /**< unused by the SDK */
    UINT* m_pData;        /**< the elements */
    intptr_t m_nSize;     /**< element count */
    intptr_t m_nMaxSize;  /**< unused by the SDK */
    intptr_t m_nGrowBy;   /**< unused by the SDK */
} CUIntArray;

/** An array of pointers (the paths of SetPaths, and the waypoints of each path). */
typedef struct CPtrArray {
    const void* m_vtable; /**< unused by the SDK */
    void** m_pData;       /**< the elements */
    intptr_t m_nSize;     /**< element count */
    intptr_t m_nMaxSize;  /**< unused by the SDK */
    intptr_t m_nGrowBy;   /**< unused by the SDK */
} CPtrArray;

/** An array of framework strings (the path names of SetPaths). */
typedef struct CStringArray {
    const void* m_vtable; /**< unused by the SDK */
    CString* m_pData;     /**< the elements */
    intptr_t m_nSize;     /**< element count */
    intptr_t m_nMaxSize;  /**< unused by the SDK */
    intptr_t m_nGrowBy;   /**< unused by the SDK */
} CStringArray;

#ifdef __cplusplus
}
#endif

#endif
