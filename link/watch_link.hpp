// The connection to one watch for the life of one task window: owns the serial
// port, frames and sends every command, and runs the receive thread that cuts
// the incoming stream into frames and turns each reply into a private message
// (link/link_messages.hpp) posted to the owner window.
//
// Threads: the owner's thread creates the link, opens it, sends commands,
// starts and stops receiving and destroys it. The receive thread only calls
// ParseMessage, which posts to the owner and, for read replies, copies into the
// destination recorded by ReadMemory. One command is outstanding at a time: a
// caller sends the next one only after the reply (or its timer), which is what
// keeps the single read destination safe.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "link/dcb.hpp"
#include "stridelog/win_types.h"
#include "wire/message_ids.hpp"

namespace stridelog::link {

namespace watch_id = wire::watch_id;

class CSerialPort;

// Largest count one ReadMemory may ask for: its reply (count + 1 bytes) must
// fit the 200 payload bytes the receiver accepts.
inline constexpr std::uint8_t kMaxReadCount = 199;
// Largest count one WriteMemory may carry: id, address and count take 5 of the
// 255 payload bytes a frame can announce.
inline constexpr std::uint8_t kMaxWriteCount = 250;
// Time bound of one frame write.
inline constexpr std::uint32_t kSendTimeoutMs = 1000;

class CWatchLink {
  public:
    explicit CWatchLink(HWND owner);
    virtual ~CWatchLink();
    CWatchLink(const CWatchLink&) = delete;
    CWatchLink& operator=(const CWatchLink&) = delete;

    // Replaces any open port, forces RTS off and DTR on, opens and starts receiving.
    bool OpenPort(int port, DCB dcb);
    // Frames and writes the payload (1..255 bytes) within 1000 ms.
    bool SendFrame(const std::uint8_t* payload, std::uint8_t length);

    void StartReceiving();
    void StopReceiving();

    // Command senders; each returns the result of SendFrame, or false without
    // sending when its arguments cannot make a valid command.
    bool GetVersion();
    // count 1..199; destination receives the reply's count bytes.
    bool ReadMemory(std::uint32_t address, std::uint8_t count, std::uint8_t* destination);
    bool EraseSector(std::uint32_t address);
    // count 0..250.
    bool WriteMemory(std::uint32_t address, std::uint8_t count, const std::uint8_t* data);
    bool PrepareWrite();
    bool ProgramUpdate();
    bool GetStatus();
    // Full year 2000..2255; the watch gets year - 2000.
    bool SetExpiryDate(int year, int month, int day);
    bool SetClock(std::uint8_t year_minus_2000, std::uint8_t month, std::uint8_t day,
                  std::uint8_t hour, std::uint8_t minute, std::uint8_t second);

    // Whether the acknowledgement `reply_id` answers the command outstanding:
    // true once, for the reply its sender armed; every sender re-arms. Reply
    // 0x23 stands in for the prepare and erase acknowledgements.
    bool take_awaited_reply(std::uint8_t reply_id);

    // One reply payload (id first); called by the receive thread.
    void ParseMessage(const std::uint8_t* payload, std::uint16_t length);

    bool is_open() const;

    // Whether a reply has reached this machine and the receive thread has not
    // yet handed it on: bytes waiting on the line, or bytes taken and not yet
    // parsed. On a busy machine the receive thread can be scheduled late; a
    // reply timer that expires meanwhile is not a missing reply.
    bool reply_in_flight() const;

  private:
    // SendFrame, running `after_discard` with the line's discard count once
    // unread input is dropped and before the frame goes out.
    bool send_frame_after_discard(const std::uint8_t* payload, std::uint8_t length,
                                  const std::function<void(std::uint64_t)>& after_discard);
    void receive_loop();
    void post(UINT message, WPARAM wparam, LPARAM lparam);
    void post_version(const std::uint8_t* payload, std::uint16_t length);
    void post_status(const std::uint8_t* payload, std::uint16_t length);
    void trace_frame(const char* direction, const std::uint8_t* frame, std::size_t size) const;

    HWND owner_;
    UINT low_level_message_;
    bool trace_frames_;
    std::unique_ptr<CSerialPort> port_;
    std::thread receive_thread_;
    std::atomic<bool> stop_{false};
    // Receive thread: running, and holding bytes it has not parsed yet.
    std::atomic<bool> receiving_{false};
    std::atomic<bool> holding_bytes_{false};
    // Set by the senders before the command goes out, read by the parser once
    // the reply is in; atomics so the hand-over through the device is visible.
    std::atomic<std::uint8_t*> read_destination_{nullptr};
    std::atomic<std::uint8_t> read_count_{0};
    std::atomic<std::uint8_t> write_count_{0};
    // The line's discard count right after the discard that preceded the read
    // request outstanding, and the count the bytes now being parsed were taken
    // at (receive thread only). A read reply taken before that discard is a
    // late repeat of an earlier reply that escaped it, not the answer.
    std::atomic<std::uint64_t> read_request_discards_{0};
    std::uint64_t burst_discards_ = 0;
    // Reply id the command outstanding waits for (0: none); set by the sender
    // before its frame goes out, taken on the owner's thread.
    std::atomic<std::uint8_t> awaited_reply_{0};
    // Incremented each time unread input is discarded before a command.
    std::atomic<std::uint32_t> discards_{0};
};

}  // namespace stridelog::link
