#include "sim/watch.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "platform/clock.hpp"
#include "sim/agps_model.hpp"
#include "sim/firmware_image.hpp"

namespace stridelog::sim {
namespace {

// Payload offsets shared by the commands that carry a flash address.
constexpr std::size_t kAddressOffset = 1;  // 24-bit, low byte first
constexpr std::size_t kCountOffset = 4;
constexpr std::size_t kDataOffset = 5;
constexpr std::size_t kReadCommandSize = 5;    // id, address, count
constexpr std::size_t kEraseCommandSize = 4;   // id, address
constexpr std::size_t kExpiryCommandSize = 4;  // id, year - 2000, month, day
constexpr std::size_t kClockCommandSize = 7;   // id, year - 2000, month, day, hour, minute, second
constexpr int kYearBase = 2000;
constexpr std::uint8_t kClockAccepted = 0x00;

std::uint32_t address24(std::span<const std::uint8_t> p) {
    return static_cast<std::uint32_t>(p[kAddressOffset]) |
           static_cast<std::uint32_t>(p[kAddressOffset + 1]) << 8 |
           static_cast<std::uint32_t>(p[kAddressOffset + 2]) << 16;
}

bool valid_date(int year, int month, int day) {
    using namespace std::chrono;
    return year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                          std::chrono::day{static_cast<unsigned>(day)}}
        .ok();
}

std::chrono::sys_days to_days(int year, int month, int day) {
    using namespace std::chrono;
    return sys_days{year_month_day{std::chrono::year{year},
                                   std::chrono::month{static_cast<unsigned>(month)},
                                   std::chrono::day{static_cast<unsigned>(day)}}};
}

WatchTime from_seconds(std::chrono::sys_seconds now) {
    using namespace std::chrono;
    const sys_days now_days = floor<std::chrono::days>(now);
    const year_month_day ymd{now_days};
    const hh_mm_ss hms{now - now_days};
    return WatchTime{static_cast<int>(ymd.year()),
                     static_cast<int>(static_cast<unsigned>(ymd.month())),
                     static_cast<int>(static_cast<unsigned>(ymd.day())),
                     static_cast<int>(hms.hours().count()),
                     static_cast<int>(hms.minutes().count()),
                     static_cast<int>(hms.seconds().count())};
}

WatchTime add_seconds(const WatchTime& t, std::uint64_t seconds) {
    using namespace std::chrono;
    const sys_seconds start = to_days(t.year, t.month, t.day) + hours{t.hour} + minutes{t.minute} +
                              std::chrono::seconds{t.second};
    return from_seconds(start + std::chrono::seconds{static_cast<std::int64_t>(seconds)});
}

std::string date_text(const WatchDate& d) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
}

// The bootloader's program area, erased as one by the erase of its first sector.
constexpr std::uint32_t kFirstProgramSector = 2;
// Sector 32 holds the program sum, which the host writes without an erase:
// cleared with the program, or a second update would AND its sum into the first.
constexpr std::uint32_t kLastBulkErasedSector = 32;
// The settings block at the start of the directory: a checksum over bytes
// 2..223 (byte 0 the 8-bit sum, byte 1 its complement to 255), then the long
// version text at 96..111.
constexpr std::size_t kSettingsChecksummed = 224;
constexpr std::size_t kLongVersionByte = 96;

std::uint8_t settings_sum(const std::vector<std::uint8_t>& settings) {
    std::uint32_t sum = 0;
    for (std::size_t i = 2; i < settings.size(); ++i) sum += settings[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

// Where the host keeps the A-GPS expiry date in the directory sector.
constexpr std::uint32_t kExpiryDayByte = 112;
constexpr std::uint32_t kExpiryMonthByte = 113;
constexpr std::uint32_t kExpiryYearByte = 114;  // year - 2000
// Status bytes 0 and 1 while the A-GPS data is good: 1, then the days it has left.
constexpr std::uint8_t kAgpsValid = 0x01;
constexpr int kMaxDaysLeft = 255;

bool fault_hits(Fault& fault, std::uint8_t id, std::size_t frame_number) {
    if (fault.repeat == 0) return false;
    bool hit = false;
    if (fault.command) {
        hit = *fault.command == id;
    } else if (frame_number >= fault.frame_number && fault.frame_number != 0) {
        hit = fault.repeat < 0 ||
              frame_number - fault.frame_number < static_cast<std::size_t>(fault.repeat);
        // Frame-numbered faults are spent by position, not by count.
        return hit;
    }
    if (hit && fault.repeat > 0) --fault.repeat;
    return hit;
}

// The long version text the program image carries, or empty.
std::string program_version(std::span<const std::uint8_t> bytes) {
    const auto record = bytes.subspan(kVersionRecordAddress, sizeof kVersionTag + kVersionTextSize);
    if (!std::equal(std::begin(kVersionTag), std::end(kVersionTag), record.begin())) return {};
    const auto text = record.subspan(sizeof kVersionTag);
    return std::string(text.begin(), std::find(text.begin(), text.end(), 0));
}

}  // namespace

Watch::Watch(WatchConfig config) : config_(std::move(config)) {
    if (!config_.flash_image_path.empty()) {
        std::string error;
        std::FILE* probe = std::fopen(config_.flash_image_path.c_str(), "rb");
        if (probe != nullptr) {
            std::fclose(probe);
            if (!flash_.load(config_.flash_image_path, error)) throw std::runtime_error(error);
        }
    }
    start_time_at_ms_ = platform::clock().now_ms();
    load_agps_locked();
    // A watch boots the firmware its flash holds: an image saved after an
    // update answers with the version it was given.
    if (const std::string version = program_version(flash_.bytes()); !version.empty())
        set_version_reply(version);
}

Watch::~Watch() {
    std::lock_guard lock(lifetime_->mutex);
    lifetime_->alive = false;
}

void Watch::set_output(Output output) {
    std::lock_guard lock(mutex_);
    output_ = std::move(output);
}

void Watch::set_scheduler(Scheduler scheduler) {
    std::lock_guard lock(mutex_);
    scheduler_ = std::move(scheduler);
}

void Watch::set_disconnect_handler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    disconnect_handler_ = std::move(handler);
}

void Watch::feed(std::span<const std::uint8_t> bytes) {
    std::vector<Emission> emissions;
    {
        std::lock_guard lock(mutex_);
        assembler_.feed(bytes, [&](std::span<const std::uint8_t> payload) {
            handle_frame(payload, emissions);
        });
    }
    flush_log();
    emit(std::move(emissions));
}

void Watch::handle_frame(std::span<const std::uint8_t> payload, std::vector<Emission>& out) {
    const std::uint64_t now = platform::clock().now_ms();
    if (now < reboot_until_ms_) return;  // rebooting: deaf to everything
    received_.emplace_back(payload.begin(), payload.end());
    ++frame_count_;
    if (payload.empty()) return;

    const std::uint8_t id = payload[0];
    std::vector<Fault> hits;
    for (Fault& fault : faults_)
        if (fault_hits(fault, id, frame_count_)) hits.push_back(fault);

    for (const Fault& fault : hits) {
        if (fault.kind != FaultKind::reboot) continue;
        ++reboots_;
        reboot_until_ms_ = now + fault.delay_ms;
        note("reboot: deaf for " + std::to_string(fault.delay_ms) + " ms");
        return;
    }

    std::optional<std::vector<std::uint8_t>> reply = answer(payload);

    for (const Fault& fault : hits) {
        if (fault.kind == FaultKind::disconnect) {
            // Part of the reply may make it onto the line before it goes.
            if (reply && fault.cut_after > 0) {
                const auto frame = wire::encode_frame(*reply);
                const std::size_t part = std::min(fault.cut_after, frame.size());
                out.push_back(Emission{
                    0, {frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(part)}, false});
            }
            out.push_back(Emission{0, {}, true});
            return;
        }
        if (fault.kind == FaultKind::silence) return;
    }
    if (!reply) return;

    for (const Fault& fault : hits)
        if (fault.kind == FaultKind::plain_ack) *reply = {watch_id::kAck23};
    for (const Fault& fault : hits) {
        if (fault.kind != FaultKind::wrong_length) continue;
        if (fault.length_delta > 0) {
            reply->resize(reply->size() + static_cast<std::size_t>(fault.length_delta), 0x00);
        } else if (!reply->empty()) {
            const std::size_t fewer =
                std::min(reply->size(), static_cast<std::size_t>(-fault.length_delta));
            reply->resize(reply->size() - fewer);
        }
    }
    std::vector<std::uint8_t> frame = wire::encode_frame(*reply);
    std::vector<Emission> parts{Emission{0, frame, false}};
    for (const Fault& fault : hits) {
        switch (fault.kind) {
            case FaultKind::bad_checksum:
                // The low checksum byte sits just before the B0 B3 trailer.
                for (auto& part : parts) part.bytes[part.bytes.size() - 3] ^= 0x01;
                break;
            case FaultKind::garbage_before:
                if (fault.garbage.empty()) {
                    parts.front().bytes.insert(parts.front().bytes.begin(),
                                               Fault::kDefaultGarbage.begin(),
                                               Fault::kDefaultGarbage.end());
                } else {
                    parts.front().bytes.insert(parts.front().bytes.begin(), fault.garbage.begin(),
                                               fault.garbage.end());
                }
                break;
            case FaultKind::split: {
                std::vector<Emission> split;
                for (auto& part : parts) {
                    const std::size_t at = fault.split_at != 0 && fault.split_at < part.bytes.size()
                                               ? fault.split_at
                                               : part.bytes.size() / 2;
                    Emission first{
                        part.delay_ms,
                        {part.bytes.begin(), part.bytes.begin() + static_cast<std::ptrdiff_t>(at)},
                        false};
                    Emission second{
                        part.delay_ms + fault.delay_ms,
                        {part.bytes.begin() + static_cast<std::ptrdiff_t>(at), part.bytes.end()},
                        false};
                    split.push_back(std::move(first));
                    split.push_back(std::move(second));
                }
                parts = std::move(split);
                break;
            }
            case FaultKind::byte_by_byte: {
                std::vector<Emission> bytes;
                for (auto& part : parts) {
                    std::uint32_t at = part.delay_ms;
                    for (std::uint8_t b : part.bytes) {
                        bytes.push_back(Emission{at, {b}, false});
                        at += fault.delay_ms;
                    }
                }
                parts = std::move(bytes);
                break;
            }
            case FaultKind::duplicate: {
                const std::vector<Emission> copy = parts;
                parts.insert(parts.end(), copy.begin(), copy.end());
                break;
            }
            default:
                break;
        }
    }
    std::uint32_t delay = 0;
    for (const Fault& fault : hits)
        if (fault.kind == FaultKind::delay) delay += fault.delay_ms;
    for (auto& part : parts) {
        part.delay_ms += delay;
        out.push_back(std::move(part));
    }
}

std::optional<std::vector<std::uint8_t>> Watch::answer(std::span<const std::uint8_t> p) {
    const std::size_t n = p.size();
    switch (p[0]) {
        case watch_id::kGetVersion: {
            if (n != 1) return std::nullopt;
            std::vector<std::uint8_t> r{watch_id::kVersionReply};
            if (config_.numeric_version) {
                const NumericVersion v = *config_.numeric_version;
                r.insert(r.end(), {static_cast<std::uint8_t>(v.major & 0xFF),
                                   static_cast<std::uint8_t>(v.major >> 8),
                                   static_cast<std::uint8_t>(v.minor & 0xFF),
                                   static_cast<std::uint8_t>(v.minor >> 8)});
            } else {
                r.insert(r.end(), config_.version_text.begin(), config_.version_text.end());
            }
            return r;
        }
        case watch_id::kReadMemory: {
            if (n != kReadCommandSize || p[kCountOffset] == 0) return std::nullopt;
            std::vector<std::uint8_t> r(1 + p[kCountOffset]);
            r[0] = watch_id::kReadReply;
            if (!flash_.read(address24(p), std::span(r).subspan(1))) return std::nullopt;
            return r;
        }
        case watch_id::kEraseSector: {
            if (n != kEraseCommandSize || !flash_.erase_sector(address24(p))) return std::nullopt;
            const std::uint32_t sector = address24(p) / Flash::kSectorSize;
            if (update_mode_ && sector == kFirstProgramSector) {
                // The bootloader clears the whole program area at once; the host
                // then writes sectors 3..31 and the sum without erasing them.
                for (std::uint32_t s = kFirstProgramSector; s <= kLastBulkErasedSector; ++s)
                    flash_.erase_sector(s * Flash::kSectorSize);
                note("program update: sectors 2..32 erased");
            }
            return std::vector<std::uint8_t>{watch_id::kEraseReply};
        }
        case watch_id::kWriteMemory: {
            if (n <= kDataOffset || p[kCountOffset] != n - kDataOffset) return std::nullopt;
            if (!flash_.program(address24(p), p.subspan(kDataOffset))) return std::nullopt;
            if (update_mode_ && address24(p) == kProgramSumAddress) reboot_after_update();
            return std::vector<std::uint8_t>{watch_id::kWriteReply};
        }
        case watch_id::kPrepareWrite:
            if (n != 1) return std::nullopt;
            return std::vector<std::uint8_t>{watch_id::kPrepareWriteReply};
        case watch_id::kProgramUpdate:
            if (n != 1) return std::nullopt;
            if (!update_mode_) note("program update: waiting for the program image");
            update_mode_ = true;
            return std::vector<std::uint8_t>{watch_id::kProgramUpdateReply};
        case watch_id::kGetStatus:
            if (n != 1) return std::nullopt;
            return status_reply_locked();
        case watch_id::kSetExpiryDate:
            if (n != kExpiryCommandSize) return std::nullopt;
            // Acknowledged whether or not the date is taken; the host learns
            // which from the next status reply.
            take_expiry(WatchDate{kYearBase + p[1], p[2], p[3]});
            return std::vector<std::uint8_t>{watch_id::kSetExpiryDateReply};
        case watch_id::kSetClock: {
            if (n != kClockCommandSize) return std::nullopt;
            const WatchTime t{kYearBase + p[1], p[2], p[3], p[4], p[5], p[6]};
            if (!valid_date(t.year, t.month, t.day) || t.hour > 23 || t.minute > 59 ||
                t.second > 59)
                return std::nullopt;
            clock_set_ = t;
            clock_set_at_ms_ = platform::clock().now_ms();
            return std::vector<std::uint8_t>{watch_id::kSetClockReply, kClockAccepted};
        }
        default:
            return std::nullopt;
    }
}

void Watch::reboot_after_update() {
    update_mode_ = false;
    ++reboots_;
    const std::uint64_t now = platform::clock().now_ms();
    reboot_until_ms_ = config_.reboot_ms == WatchConfig::kNeverBack
                           ? std::numeric_limits<std::uint64_t>::max()
                           : now + config_.reboot_ms;

    FirmwareUpdateResult result;
    const auto bytes = flash_.bytes();
    const auto boot = bytes.subspan(kBootBlockAddress, kBootBlockSize);
    const auto program = bytes.subspan(kProgramAddress, kProgramEnd - kProgramAddress);
    result.boot_sum_computed =
        static_cast<std::uint16_t>(std::accumulate(boot.begin(), boot.end(), 0u) & 0xFFFF);
    result.program_sum_computed =
        static_cast<std::uint16_t>(std::accumulate(program.begin(), program.end(), 0u) & 0xFFFF);
    result.boot_sum_stored =
        static_cast<std::uint16_t>(bytes[kBootSumAddress] | bytes[kBootSumAddress + 1] << 8);
    result.program_sum_stored =
        static_cast<std::uint16_t>(bytes[kProgramSumAddress] | bytes[kProgramSumAddress + 1] << 8);
    result.version = program_version(bytes);

    char sums[160];
    std::snprintf(sums, sizeof sums,
                  "boot sum stored %04X, computed %04X (%s); program sum stored %04X, "
                  "computed %04X (%s)",
                  result.boot_sum_stored, result.boot_sum_computed,
                  result.boot_sum_ok() ? "match" : "MISMATCH", result.program_sum_stored,
                  result.program_sum_computed, result.program_sum_ok() ? "match" : "MISMATCH");
    note(std::string("program update: rebooting; ") + sums);
    if (!result.boot_sum_ok() || !result.program_sum_ok()) {
        note("program update: the image is not sound; the old firmware stays");
    } else if (result.version.empty()) {
        note("program update: no version text in the program image; the old firmware stays");
    } else {
        result.version_taken = true;
        run_version(result.version);
        note("program update: back as " + result.version +
             (config_.reboot_ms == WatchConfig::kNeverBack
                  ? std::string(" (never answering again)")
                  : " after " + std::to_string(config_.reboot_ms) + " ms"));
    }
    last_update_ = result;
}

void Watch::set_version_reply(const std::string& long_version) {
    // 1.32.01_VUNA0_00: the version reply becomes Ver1.32 (1, 32 numerically).
    const std::string dotted = long_version.substr(0, long_version.find('_'));
    const auto first_dot = dotted.find('.');
    const auto second_dot = dotted.find('.', first_dot == std::string::npos ? 0 : first_dot + 1);
    const std::string major = dotted.substr(0, first_dot);
    const std::string minor = first_dot == std::string::npos
                                  ? std::string("0")
                                  : dotted.substr(first_dot + 1, second_dot - first_dot - 1);
    config_.version_text = "Ver" + major + "." + minor;
    if (config_.numeric_version)
        config_.numeric_version =
            NumericVersion{static_cast<std::uint16_t>(std::atoi(major.c_str())),
                           static_cast<std::uint16_t>(std::atoi(minor.c_str()))};
}

void Watch::run_version(const std::string& long_version) {
    set_version_reply(long_version);
    std::vector<std::uint8_t> settings = flash_.read(0, kSettingsChecksummed);
    const bool checksum_was_right =
        settings[0] == settings_sum(settings) && settings[1] == 0xFF - settings_sum(settings);
    std::fill_n(settings.begin() + kLongVersionByte, kVersionTextSize, 0);
    std::copy_n(long_version.begin(), std::min(long_version.size(), kVersionTextSize),
                settings.begin() + kLongVersionByte);
    // Keep a sound settings block sound; leave a broken one as it was found.
    if (checksum_was_right) {
        settings[0] = settings_sum(settings);
        settings[1] = static_cast<std::uint8_t>(0xFF - settings[0]);
    }
    flash_.store(0, settings);
}

std::vector<std::uint8_t> Watch::status_reply_locked() const {
    std::vector<std::uint8_t> r{watch_id::kStatusReply};
    r.insert(r.end(), config_.status_bytes.begin(), config_.status_bytes.end());
    if (config_.fixed_status_bytes) return r;
    std::uint8_t valid = 0, days_left = 0;
    if (agps_expiry_) {
        const WatchTime now = clock_now_locked();
        const auto left = (to_days(agps_expiry_->year, agps_expiry_->month, agps_expiry_->day) -
                           to_days(now.year, now.month, now.day))
                              .count();
        if (left > 0) {
            valid = kAgpsValid;
            days_left = static_cast<std::uint8_t>(std::min<long>(left, kMaxDaysLeft));
        }
    }
    if (r.size() > 1) r[1] = valid;
    if (r.size() > 2) r[2] = days_left;
    return r;
}

void Watch::take_expiry(const WatchDate& date) {
    // The host sends the date only after rewriting the A-GPS sectors, so a date
    // not taken leaves no usable data behind: the old date goes too.
    agps_expiry_.reset();
    std::string why;
    const WatchTime now = clock_now_locked();
    const WatchDate today{now.year, now.month, now.day};
    if (config_.agps_refuse) {
        why = "the watch is set to refuse A-GPS data";
    } else if (!valid_date(date.year, date.month, date.day)) {
        why = "not a valid date";
    } else if (to_days(date.year, date.month, date.day) <= to_days(now.year, now.month, now.day)) {
        why = "not after the watch's date " + date_text(today);
    } else {
        const auto area = flash_.bytes().subspan(kEpoAddress, kEpoAreaSize);
        is_well_formed_epo_stream(area, &why);
    }
    if (!why.empty()) {
        note("A-GPS expiry " + date_text(date) + " not taken: " + why);
        return;
    }
    agps_expiry_ = date;
    note("A-GPS expiry " + date_text(date) + " taken");
}

void Watch::load_agps_from_directory() {
    {
        std::lock_guard lock(mutex_);
        load_agps_locked();
    }
    flush_log();
}

void Watch::load_agps_locked() {
    agps_expiry_.reset();
    const std::vector<std::uint8_t> d = flash_.read(kExpiryDayByte, 3);
    const WatchDate date{kYearBase + d[kExpiryYearByte - kExpiryDayByte],
                         d[kExpiryMonthByte - kExpiryDayByte], d[0]};
    if (!valid_date(date.year, date.month, date.day)) return;  // never loaded, or erased
    const auto area = flash_.bytes().subspan(kEpoAddress, kEpoAreaSize);
    // No packets were ever loaded: a fresh watch, nothing worth a note.
    if (std::all_of(area.begin(), area.end(), [](std::uint8_t b) { return b == Flash::kErased; }))
        return;
    std::string why;
    if (config_.agps_refuse) {
        why = "the watch is set to refuse A-GPS data";
    } else {
        is_well_formed_epo_stream(area, &why);
    }
    if (!why.empty()) {
        note("A-GPS expiry " + date_text(date) + " in the directory not taken: " + why);
        return;
    }
    agps_expiry_ = date;
    note("A-GPS expiry " + date_text(date) + " taken from the directory");
}

WatchTime Watch::clock_now_locked() const {
    const std::uint64_t now = platform::clock().now_ms();
    if (clock_set_) return add_seconds(*clock_set_, (now - clock_set_at_ms_) / 1000);
    if (config_.start_time)
        return add_seconds(*config_.start_time, (now - start_time_at_ms_) / 1000);
    return from_seconds(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()));
}

WatchTime Watch::clock_now() const {
    std::lock_guard lock(mutex_);
    return clock_now_locked();
}

void Watch::note(std::string line) {
    log_.push_back(line);
    pending_log_.push_back(std::move(line));
}

void Watch::flush_log() {
    std::vector<std::string> lines;
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard lock(mutex_);
        lines.swap(pending_log_);
        sink = log_sink_;
    }
    if (sink)
        for (const auto& line : lines) sink(line);
}

std::vector<std::string> Watch::log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

void Watch::set_log_sink(std::function<void(const std::string&)> sink) {
    std::vector<std::string> lines;
    {
        std::lock_guard lock(mutex_);
        log_sink_ = sink;
        lines = log_;
        pending_log_.clear();
    }
    if (sink)
        for (const auto& line : lines) sink(line);
}

void Watch::emit(std::vector<Emission> emissions) {
    if (emissions.empty()) return;
    Output output;
    Scheduler scheduler;
    std::function<void()> disconnect;
    {
        std::lock_guard lock(mutex_);
        output = output_;
        scheduler = scheduler_;
        disconnect = disconnect_handler_;
    }
    auto deliver = [output, disconnect](const Emission& e) {
        if (e.disconnect) {
            if (disconnect) disconnect();
        } else if (output) {
            output(e.bytes);
        }
    };
    const std::uint64_t start = platform::clock().now_ms();
    for (Emission& e : emissions) {
        if (e.delay_ms == 0) {
            deliver(e);
            continue;
        }
        std::weak_ptr<Lifetime> weak = lifetime_;
        auto task = [weak, deliver, e = std::move(e)] {
            auto lifetime = weak.lock();
            if (!lifetime) return;
            std::lock_guard lock(lifetime->mutex);
            if (lifetime->alive) deliver(e);
        };
        if (scheduler) {
            scheduler(e.delay_ms, std::move(task));
        } else if (auto* vc = platform::virtual_clock()) {
            vc->schedule(vc->now_ms() + e.delay_ms, std::move(task));
        } else {
            // No transport timer: the feeding thread waits (relative to the feed,
            // so consecutive parts keep their spacing).
            const std::uint64_t due = start + e.delay_ms;
            const std::uint64_t now = platform::clock().now_ms();
            if (due > now) platform::clock().sleep_ms(static_cast<std::uint32_t>(due - now));
            task();
        }
    }
}

void Watch::add_fault(const Fault& fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

void Watch::clear_faults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

std::vector<std::vector<std::uint8_t>> Watch::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t Watch::received_count(std::uint8_t id) const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& p : received_)
        if (!p.empty() && p[0] == id) ++count;
    return count;
}

std::vector<std::uint8_t> Watch::received_ids() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> ids;
    for (const auto& p : received_)
        if (!p.empty()) ids.push_back(p[0]);
    return ids;
}

void Watch::clear_received() {
    std::lock_guard lock(mutex_);
    received_.clear();
    frame_count_ = 0;  // frame-numbered faults count from the next frame
}

std::size_t Watch::rejected_frames() const {
    std::lock_guard lock(mutex_);
    return assembler_.rejected();
}

std::optional<WatchDate> Watch::agps_expiry() const {
    std::lock_guard lock(mutex_);
    return agps_expiry_;
}

std::optional<WatchTime> Watch::time() const {
    std::lock_guard lock(mutex_);
    if (!clock_set_) return std::nullopt;
    const std::uint64_t elapsed_ms = platform::clock().now_ms() - clock_set_at_ms_;
    return add_seconds(*clock_set_, elapsed_ms / 1000);
}

bool Watch::rebooting() const {
    std::lock_guard lock(mutex_);
    return platform::clock().now_ms() < reboot_until_ms_;
}

std::size_t Watch::reboots() const {
    std::lock_guard lock(mutex_);
    return reboots_;
}

bool Watch::in_update_mode() const {
    std::lock_guard lock(mutex_);
    return update_mode_;
}

std::optional<FirmwareUpdateResult> Watch::last_update() const {
    std::lock_guard lock(mutex_);
    return last_update_;
}

void Watch::set_config(const WatchConfig& config) {
    std::lock_guard lock(mutex_);
    if (config.start_time != config_.start_time) start_time_at_ms_ = platform::clock().now_ms();
    config_ = config;
}

WatchConfig Watch::config() const {
    std::lock_guard lock(mutex_);
    return config_;
}

std::vector<std::uint8_t> Watch::read_flash(std::uint32_t address, std::size_t count) const {
    std::lock_guard lock(mutex_);
    return flash_.read(address, count);
}

void Watch::with_flash(const std::function<void(Flash&)>& fn) {
    std::lock_guard lock(mutex_);
    fn(flash_);
}

bool Watch::save_image(const std::string& path, std::string& error) const {
    std::lock_guard lock(mutex_);
    return flash_.save(path, error);
}

}  // namespace stridelog::sim
