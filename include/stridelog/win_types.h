/**
 * @file win_types.h
 * @brief Window and message types of the host interface.
 *
 * The SDK's interface keeps the desktop platform's shapes (window handles,
 * 32-bit message numbers, pointer-sized message parameters, UTF-16 strings) so
 * a host written for it ports unchanged. Plain C11; included by stridelog.h.
 */
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

/** Opaque window handle (a host window, a task window); never dereferenced. */
typedef struct StridelogWindow_* HWND;
/** Unsigned 32-bit integer: message numbers and notification codes. */
typedef unsigned int UINT;
/** 32-bit boolean: 0 is false (FALSE), anything else true (TRUE). */
typedef int BOOL;
/** Unsigned 8-bit integer. */
typedef uint8_t BYTE;
/** Unsigned 16-bit integer. */
typedef uint16_t WORD;
/** Unsigned 32-bit integer. */
typedef uint32_t DWORD;
/** First message parameter, pointer-sized unsigned: a notification's code. */
typedef uintptr_t WPARAM;
/** Second message parameter, pointer-sized signed: a notification's block address, or 0. */
typedef intptr_t LPARAM;
/** Result of a window procedure, pointer-sized signed. */
typedef intptr_t LRESULT;
/** Pointer-sized unsigned integer (timer identifiers). */
typedef uintptr_t UINT_PTR;
/** One UTF-16 code unit. */
typedef char16_t WCHAR;
/** Pointer to NUL-terminated UTF-16 text; the SDK reads a null pointer as empty text. */
typedef const WCHAR* LPCWSTR;

#ifndef TRUE
/** The BOOL value the SDK returns for true. */
#define TRUE 1
#endif
#ifndef FALSE
/** The BOOL value false. */
#define FALSE 0
#endif

#ifdef __cplusplus
}
#endif

#endif
