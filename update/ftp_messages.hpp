// Private messages from the downloader's worker thread to its owner window.
// "owns" means the message carries a text its receiver takes
// (link/owned_payload.hpp).
#pragma once

#include <string>

#include "link/owned_payload.hpp"
#include "stridelog/win_types.h"

namespace stridelog::update {

inline constexpr UINT WM_FTP_STATUS = 0xcb3;     // wParam: owns the status line
inline constexpr UINT WM_FTP_DONE = 0xcb5;       // every file was downloaded
inline constexpr UINT WM_FTP_FAILED = 0xcb7;     // the download failed (posted once)
inline constexpr UINT WM_FTP_PROGRESS = 0xcb8;   // wParam: percentage 0..100
inline constexpr UINT WM_FTP_RANGE = 0xcb9;      // wParam: lower, lParam: upper (0..100)
inline constexpr UINT WM_FTP_TIME_LEFT = 0xcba;  // wParam: owns "mm:ss" or "hh:mm:ss"
inline constexpr UINT WM_FTP_RATE = 0xcbb;       // wParam: owns kB/s as "%.2lf"

// The three that carry a text.
inline constexpr link::PayloadMessage<std::string> kFtpStatusMessage{WM_FTP_STATUS};
inline constexpr link::PayloadMessage<std::string> kFtpTimeLeftMessage{WM_FTP_TIME_LEFT};
inline constexpr link::PayloadMessage<std::string> kFtpRateMessage{WM_FTP_RATE};

// Frees what a downloader message carries, for a receiver that does not handle it.
inline void drop_download_message(UINT message, WPARAM wparam) {
    kFtpStatusMessage.drop_if_carried(message, wparam) ||
        kFtpTimeLeftMessage.drop_if_carried(message, wparam) ||
        kFtpRateMessage.drop_if_carried(message, wparam);
}

}  // namespace stridelog::update
