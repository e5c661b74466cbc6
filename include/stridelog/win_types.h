/* Window and message types of the host interface. The SDK's interface keeps the
 * desktop platform's shapes (window handles, 32-bit message numbers, pointer-sized
 * message parameters, UTF-16 strings) so a host written for it ports unchanged. */
#ifndef STRIDELOG_WIN_TYPES_H
#define STRIDELOG_WIN_TYPES_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct StridelogWindow_* HWND; /* opaque window handle; never dereferenced */
typedef unsigned int UINT;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef uintptr_t UINT_PTR;
typedef char16_t WCHAR; /* UTF-16 code unit */
typedef const WCHAR* LPCWSTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifdef __cplusplus
}
#endif

#endif
