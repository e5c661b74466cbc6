// Private messages from the downloader's worker thread to its owner window.
// "owns" means the handler deletes the std::string the wParam points at (the
// drop function does, if the message is discarded undelivered).
#pragma once

#include "stridelog/win_types.h"

namespace stridelog {

inline constexpr UINT WM_FTP_STATUS = 0xcb3;     // wParam: owns std::string* status line
inline constexpr UINT WM_FTP_DONE = 0xcb5;       // every file was downloaded
inline constexpr UINT WM_FTP_FAILED = 0xcb7;     // the download failed (posted once)
inline constexpr UINT WM_FTP_PROGRESS = 0xcb8;   // wParam: percentage 0..100
inline constexpr UINT WM_FTP_RANGE = 0xcb9;      // wParam: lower, lParam: upper (0..100)
inline constexpr UINT WM_FTP_TIME_LEFT = 0xcba;  // wParam: owns std::string* "mm:ss" or "hh:mm:ss"
inline constexpr UINT WM_FTP_RATE = 0xcbb;       // wParam: owns std::string* kB/s "%.2lf"

}  // namespace stridelog
