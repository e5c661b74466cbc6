// The A-GPS files in the local download folder: the orbit file, the issue
// date beside it, the packet file made from it, and the expiry date the watch
// is given.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace stridelog::update {

inline constexpr const char* kOrbitFileName = "MTK7d.EPO";
inline constexpr const char* kDateFileName = "datetime.txt";
inline constexpr const char* kPacketFileName = "MTK7d.EPO.pkt";
inline constexpr int kExpiryDays = 7;

// Year - 2000, month, day; every byte 0xFF while unknown.
struct ExpiryDate {
    std::uint8_t year = 0xFF;
    std::uint8_t month = 0xFF;
    std::uint8_t day = 0xFF;
    bool known() const { return year != 0xFF || month != 0xFF || day != 0xFF; }
    bool operator==(const ExpiryDate&) const = default;
};

// The local calendar date now.
std::chrono::year_month_day local_today();

// The issue date in `first_line` ("2012-12-30") plus seven days. Fields that
// do not parse keep today's value; a date that is no calendar date, or one the
// watch's one-byte year cannot hold, is unknown.
ExpiryDate expiry_from_date_line(std::string_view first_line, std::chrono::year_month_day today);

// The expiry date from "datetime.txt" in `folder`; unknown when it or the
// orbit file is missing, or it cannot be read.
ExpiryDate read_expiry_date(const std::filesystem::path& folder, std::chrono::year_month_day today);

// True when the orbit file in `folder` was fetched today (its size one the
// server gives, its modification date today's local date): no download then.
bool orbit_file_is_from_today(const std::filesystem::path& folder,
                              std::chrono::year_month_day today);

}  // namespace stridelog::update
