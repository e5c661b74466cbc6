#include "link/watch_link.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "link/link_messages.hpp"
#include "link/serial_port.hpp"
#include "platform/debug_output.hpp"
#include "platform/window_system.hpp"
#include "wire/frame.hpp"

namespace stridelog::link {
namespace {

// Bytes asked for per port read; a burst rarely exceeds one frame.
constexpr std::size_t kReadRequest = 200;
// A text version is read from a zero-filled buffer of this size, so at most
// 31 characters survive (longer texts are cut, not rejected).
constexpr std::size_t kVersionTextBuffer = 32;
// A numeric version reply: id + two 16-bit little-endian numbers.
constexpr std::uint16_t kNumericVersionLength = 5;

void put_address(std::uint8_t* out, std::uint32_t address) {
    out[0] = static_cast<std::uint8_t>(address & 0xFF);
    out[1] = static_cast<std::uint8_t>((address >> 8) & 0xFF);
    out[2] = static_cast<std::uint8_t>((address >> 16) & 0xFF);
}

bool trace_enabled() {
    const char* v = std::getenv("STRIDELOG_TRACE_FRAMES");
    return v != nullptr && std::strcmp(v, "1") == 0;
}

}  // namespace

CWatchLink::CWatchLink(HWND owner)
    : owner_(owner),
      low_level_message_(platform::register_window_message(kLowLevelMessageName)),
      trace_frames_(trace_enabled()) {}

CWatchLink::~CWatchLink() {
    StopReceiving();
    port_.reset();
}

bool CWatchLink::OpenPort(int port, DCB dcb) {
    if (port_) {
        StopReceiving();
        port_.reset();
    }
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    auto serial = std::make_unique<CSerialPort>();
    if (!serial->Open(port, dcb)) return false;
    port_ = std::move(serial);
    StartReceiving();
    return true;
}

bool CWatchLink::reply_in_flight() const {
    // Without a running receive thread nothing waiting would ever be handed on.
    if (!port_ || !receiving_.load(std::memory_order_acquire)) return false;
    return holding_bytes_.load(std::memory_order_acquire) || port_->input_pending();
}

bool CWatchLink::is_open() const {
    return port_ && port_->is_open();
}

bool CWatchLink::SendFrame(const std::uint8_t* payload, std::uint8_t length) {
    return send_frame_after_discard(payload, length, [](std::uint64_t) {});
}

bool CWatchLink::send_frame_after_discard(const std::uint8_t* payload, std::uint8_t length,
                                          const std::function<void(std::uint64_t)>& after_discard) {
    if (payload == nullptr || length == 0) return false;
    if (!port_) {
        // Nothing can answer; the request is still recorded, as a sent one would be.
        after_discard(0);
        return false;
    }
    std::array<std::uint8_t, wire::kMaxSendPayload + wire::kOverhead> frame;
    const std::size_t size = wire::encode_frame(std::span(payload, length), frame);
    if (trace_frames_) trace_frame("TX", frame.data(), size);
    // One command is outstanding at a time: whatever is still waiting unread
    // when the next one goes out (a repeated or late reply) answers nothing.
    const std::uint64_t discards = port_->discard_input();
    discards_.fetch_add(1, std::memory_order_release);
    after_discard(discards);
    std::size_t written = 0;
    return port_->Write(frame.data(), size, written, kSendTimeoutMs);
}

void CWatchLink::StartReceiving() {
    if (!port_) return;
    StopReceiving();
    if (!port_->resume_read()) return;
    stop_.store(false, std::memory_order_release);
    receiving_.store(true, std::memory_order_release);
    receive_thread_ = std::thread([this] {
        receive_loop();
        receiving_.store(false, std::memory_order_release);
    });
}

void CWatchLink::StopReceiving() {
    if (!receive_thread_.joinable()) return;
    stop_.store(true, std::memory_order_release);
    port_->interrupt_read();
    // Joining waits exactly as long as the thread needs; no polling, no sleeps.
    receive_thread_.join();
}

void CWatchLink::receive_loop() {
    std::array<std::uint8_t, kReadRequest> buffer;
    wire::FrameAssembler assembler;
    std::uint32_t seen_discards = discards_.load(std::memory_order_acquire);
    while (!stop_.load(std::memory_order_acquire)) {
        std::uint64_t discards = 0;
        const long n = port_->read_burst(buffer.data(), buffer.size(), discards);
        if (n < 0) break;  // stopped, or the line is gone
        holding_bytes_.store(true, std::memory_order_release);
        burst_discards_ = discards;
        // A frame half collected when its remaining bytes were discarded
        // would swallow the start of the next reply.
        if (const auto d = discards_.load(std::memory_order_acquire); d != seen_discards) {
            seen_discards = d;
            assembler.reset();
        }
        assembler.feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)),
                       [this](std::span<const std::uint8_t> payload) {
                           if (trace_frames_) {
                               const auto frame = wire::encode_frame(payload);
                               trace_frame("RX", frame.data(), frame.size());
                           }
                           ParseMessage(payload.data(), static_cast<std::uint16_t>(payload.size()));
                       });
        holding_bytes_.store(false, std::memory_order_release);
    }
}

void CWatchLink::trace_frame(const char* direction, const std::uint8_t* frame,
                             std::size_t size) const {
    std::string line = "Link ";
    line += direction;
    char hex[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", frame[i]);
        line += hex;
    }
    line += '\n';
    platform::debug_output(line);
}

void CWatchLink::post(UINT message, WPARAM wparam, LPARAM lparam) {
    platform::post_message(owner_, message, wparam, lparam);
}

// ---- command senders ----------------------------------------------------

bool CWatchLink::GetVersion() {
    awaited_reply_.store(0, std::memory_order_relaxed);
    const std::uint8_t p[] = {watch_id::kGetVersion};
    return SendFrame(p, sizeof p);
}

bool CWatchLink::ReadMemory(std::uint32_t address, std::uint8_t count, std::uint8_t* destination) {
    awaited_reply_.store(0, std::memory_order_relaxed);
    // A reply to a larger count could never be accepted, and a reply with no
    // destination would have nowhere to go.
    if (destination == nullptr || count == 0 || count > kMaxReadCount) return false;
    std::uint8_t p[5] = {watch_id::kReadMemory};
    put_address(p + 1, address);
    p[4] = count;
    // Published only after the discard, so nothing that was waiting before it
    // can be taken for this request's reply.
    return send_frame_after_discard(p, sizeof p, [&](std::uint64_t discards) {
        read_count_.store(count, std::memory_order_relaxed);
        read_request_discards_.store(discards, std::memory_order_relaxed);
        read_destination_.store(destination, std::memory_order_release);
    });
}

bool CWatchLink::EraseSector(std::uint32_t address) {
    awaited_reply_.store(watch_id::kEraseReply, std::memory_order_relaxed);
    std::uint8_t p[4] = {watch_id::kEraseSector};
    put_address(p + 1, address);
    return SendFrame(p, sizeof p);
}

bool CWatchLink::WriteMemory(std::uint32_t address, std::uint8_t count, const std::uint8_t* data) {
    if (count > kMaxWriteCount || (count > 0 && data == nullptr)) return false;
    awaited_reply_.store(watch_id::kWriteReply, std::memory_order_relaxed);
    write_count_.store(count, std::memory_order_release);
    std::array<std::uint8_t, 5 + kMaxWriteCount> p{};
    p[0] = watch_id::kWriteMemory;
    put_address(p.data() + 1, address);
    p[4] = count;
    if (count > 0) std::memcpy(p.data() + 5, data, count);
    return SendFrame(p.data(), static_cast<std::uint8_t>(5 + count));
}

bool CWatchLink::PrepareWrite() {
    awaited_reply_.store(watch_id::kPrepareWriteReply, std::memory_order_relaxed);
    const std::uint8_t p[] = {watch_id::kPrepareWrite};
    return SendFrame(p, sizeof p);
}

bool CWatchLink::ProgramUpdate() {
    awaited_reply_.store(watch_id::kProgramUpdateReply, std::memory_order_relaxed);
    const std::uint8_t p[] = {watch_id::kProgramUpdate};
    return SendFrame(p, sizeof p);
}

bool CWatchLink::GetStatus() {
    awaited_reply_.store(0, std::memory_order_relaxed);
    const std::uint8_t p[] = {watch_id::kGetStatus};
    return SendFrame(p, sizeof p);
}

bool CWatchLink::SetExpiryDate(int year, int month, int day) {
    // The year travels as one byte; anything outside would wrap to a wrong date.
    if (year < 2000 || year > 2255 || month < 0 || month > 255 || day < 0 || day > 255)
        return false;
    awaited_reply_.store(watch_id::kSetExpiryDateReply, std::memory_order_relaxed);
    const std::uint8_t p[] = {watch_id::kSetExpiryDate, static_cast<std::uint8_t>(year - 2000),
                              static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
    return SendFrame(p, sizeof p);
}

bool CWatchLink::SetClock(std::uint8_t year_minus_2000, std::uint8_t month, std::uint8_t day,
                          std::uint8_t hour, std::uint8_t minute, std::uint8_t second) {
    awaited_reply_.store(watch_id::kSetClockReply, std::memory_order_relaxed);
    const std::uint8_t p[] = {
        watch_id::kSetClock, year_minus_2000, month, day, hour, minute, second};
    return SendFrame(p, sizeof p);
}

bool CWatchLink::take_awaited_reply(std::uint8_t reply_id) {
    std::uint8_t awaited = awaited_reply_.load(std::memory_order_relaxed);
    const bool answers =
        awaited != 0 && (awaited == reply_id || (reply_id == watch_id::kAck23 &&
                                                 (awaited == watch_id::kPrepareWriteReply ||
                                                  awaited == watch_id::kEraseReply)));
    return answers && awaited_reply_.compare_exchange_strong(awaited, 0);
}

// ---- reply parser ---------------------------------------------------------

void CWatchLink::ParseMessage(const std::uint8_t* payload, std::uint16_t length) {
    if (payload == nullptr || length == 0) return;
    const std::uint8_t id = payload[0];
    // Replies with a length rule: the message posted when it holds.
    auto expect = [&](bool length_ok, UINT message, WPARAM wparam, LPARAM lparam) {
        if (length_ok)
            post(message, wparam, lparam);
        else
            post(WM_LINK_BAD_REPLY, 0, id);
    };
    switch (id) {
        case watch_id::kVersionReply:
            post_version(payload, length);
            break;
        case watch_id::kReadReply: {
            // The destination is taken once: a repeated reply finds no read
            // outstanding and changes nothing, so it can neither count twice
            // nor land in the next chunk's place.
            std::uint8_t* destination = read_destination_.load(std::memory_order_acquire);
            const std::uint8_t count = read_count_.load(std::memory_order_relaxed);
            if (destination == nullptr) break;
            if (burst_discards_ != read_request_discards_.load(std::memory_order_relaxed)) break;
            if (length < 2 || length != count + 1) {
                post(WM_LINK_BAD_REPLY, 0, id);
                break;
            }
            if (!read_destination_.compare_exchange_strong(destination, nullptr,
                                                           std::memory_order_acq_rel))
                break;
            std::memcpy(destination, payload + 1, count);
            post(WM_LINK_READ_DATA, reinterpret_cast<WPARAM>(destination), count);
            break;
        }
        case watch_id::kEraseReply:
            expect(length == 1, WM_LINK_ERASE_ACK, 0, 0);
            break;
        case watch_id::kWriteReply:
            expect(length == 1, WM_LINK_WRITE_ACK, 0, write_count_.load(std::memory_order_acquire));
            break;
        case watch_id::kAck23:
            expect(length == 1, WM_LINK_ACK_23, 0, 0);
            break;
        case watch_id::kPrepareWriteReply:
            expect(length == 1, WM_LINK_PREPARE_ACK, 0, 0);
            break;
        case watch_id::kProgramUpdateReply:
            post(WM_LINK_PROGRAM_ACK, 0, 0);
            break;
        case watch_id::kStatusReply:
            if (length >= 3)
                post_status(payload, length);
            else
                post(WM_LINK_BAD_REPLY, 0, id);
            break;
        case watch_id::kSetExpiryDateReply:
            expect(length == 1, WM_LINK_EXPIRY_ACK, 0, 0);
            break;
        case watch_id::kSetClockReply:
            expect(length == 2, WM_LINK_CLOCK_ACK, length == 2 ? payload[1] : 0, 0);
            break;
        case watch_id::kUnused19:
            if (length != 6) post(WM_LINK_BAD_REPLY, 0, id);
            break;
        case watch_id::kUnused1B:
        case watch_id::kUnused1D:
        case watch_id::kUnused1F:
        case watch_id::kUnused21:
        case watch_id::kUnusedF0:
            if (length != 1) post(WM_LINK_BAD_REPLY, 0, id);
            break;
        default:
            break;  // not a reply of ours
    }
}

void CWatchLink::post_version(const std::uint8_t* payload, std::uint16_t length) {
    std::string text;
    const bool numeric = length == kNumericVersionLength;
    if (numeric) {
        const unsigned major = payload[1] | (payload[2] << 8);
        const unsigned minor = payload[3] | (payload[4] << 8);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%u.%u", major, minor);
        text = buf;
    } else {
        const std::size_t n = std::min<std::size_t>(length - 1u, kVersionTextBuffer - 1);
        const auto* begin = payload + 1;
        text.assign(begin, std::find(begin, begin + n, std::uint8_t{0}));
    }
    auto owned = std::make_unique<std::string>(std::move(text));
    const std::string* announced = owned.get();
    if (!kVersionTextMessage.post(owner_, std::move(owned))) return;
    // Announced only; the string stays owned by the WM_LINK_VERSION handler.
    if (!numeric) post(low_level_message_, WM_LINK_VERSION, reinterpret_cast<LPARAM>(announced));
}

void CWatchLink::post_status(const std::uint8_t* payload, std::uint16_t length) {
    const std::size_t size = length - 1u;
    kStatusBytesMessage.post(
        owner_, std::make_unique<std::vector<std::uint8_t>>(payload + 1, payload + length),
        static_cast<LPARAM>(size));
}

}  // namespace stridelog::link
