#include "update/agps_files.hpp"

#include <time.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace stridelog::update {
namespace {

using std::chrono::year_month_day;

constexpr int kYearBase = 2000;
constexpr int kLastYear = kYearBase + 254;  // 255 is the "unknown" byte
constexpr std::uintmax_t kSevenDayFileSize = 53760;
constexpr std::uintmax_t kFourteenDayFileSize = 107520;

year_month_day local_date(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return year_month_day{std::chrono::year{local.tm_year + 1900},
                          std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                          std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

}  // namespace

year_month_day local_today() {
    return local_date(std::time(nullptr));
}

ExpiryDate expiry_from_date_line(std::string_view first_line, year_month_day today) {
    int year = static_cast<int>(today.year());
    int month = static_cast<int>(static_cast<unsigned>(today.month()));
    int day = static_cast<int>(static_cast<unsigned>(today.day()));
    const std::string line(first_line);
    // Fields are read in order and reading stops at the first that does not
    // parse, so the ones after it keep today's value.
    std::sscanf(line.c_str(), "%d-%d-%d", &year, &month, &day);
    if (month < 1 || month > 12 || day < 1 || day > 31) return {};
    const year_month_day issued{std::chrono::year{year},
                                std::chrono::month{static_cast<unsigned>(month)},
                                std::chrono::day{static_cast<unsigned>(day)}};
    if (!issued.ok()) return {};
    const year_month_day expiry{std::chrono::sys_days{issued} + std::chrono::days{kExpiryDays}};
    const int expiry_year = static_cast<int>(expiry.year());
    if (expiry_year < kYearBase || expiry_year > kLastYear) return {};
    return {static_cast<std::uint8_t>(expiry_year - kYearBase),
            static_cast<std::uint8_t>(static_cast<unsigned>(expiry.month())),
            static_cast<std::uint8_t>(static_cast<unsigned>(expiry.day()))};
}

ExpiryDate read_expiry_date(const std::filesystem::path& folder, year_month_day today) {
    std::error_code error;
    if (!std::filesystem::exists(folder / kOrbitFileName, error) ||
        !std::filesystem::exists(folder / kDateFileName, error))
        return {};
    std::ifstream in(folder / kDateFileName);
    if (!in) return {};
    std::string line;
    std::getline(in, line);
    return expiry_from_date_line(line, today);
}

bool orbit_file_is_from_today(const std::filesystem::path& folder, year_month_day today) {
    const std::filesystem::path orbit = folder / kOrbitFileName;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(orbit, error);
    if (error || (size != kSevenDayFileSize && size != kFourteenDayFileSize)) return false;
    const auto written = std::filesystem::last_write_time(orbit, error);
    if (error) return false;
    const auto system = std::chrono::file_clock::to_sys(written);
    return local_date(std::chrono::system_clock::to_time_t(
               std::chrono::time_point_cast<std::chrono::system_clock::duration>(system))) == today;
}

}  // namespace stridelog::update
