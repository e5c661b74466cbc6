// The watch's side of the protocol: fed the bytes the host sends (split any
// way), it reassembles frames, answers each command from its flash, clock and
// status, and hands the reply bytes to its output. Faults can be injected so
// the host's failure paths meet a misbehaving watch.
//
// Threads: feed() may be called from any one thread at a time (the transport's);
// the accessors and fault setters may be called from any thread. The output,
// scheduler and disconnect hooks are called without the watch's lock held, on
// the feeding thread or on whatever thread runs a scheduled task.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/flash.hpp"
#include "wire/frame.hpp"
#include "wire/message_ids.hpp"

namespace stridelog::sim {

namespace watch_id = wire::watch_id;

struct NumericVersion {
    std::uint16_t major = 1;
    std::uint16_t minor = 30;
};

// The watch's real-time clock, in point order.
struct WatchTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool operator==(const WatchTime&) const = default;
};

struct WatchDate {
    int year = 2000;
    int month = 1;
    int day = 1;
    bool operator==(const WatchDate&) const = default;
};

struct WatchConfig {
    // The text form of the version reply ("Ver" and a number), used unless a
    // numeric version is given.
    std::string version_text = "Ver1.30";
    // When set, the version reply is the five-byte form: major, minor as LE16.
    std::optional<NumericVersion> numeric_version;
    // Bytes after the id of the status reply; two or more. The first two tell
    // the A-GPS state (both zero: no expiry date taken, or it has passed on the
    // watch's clock; else 1 and the days left, at most 255) unless
    // fixed_status_bytes is set. The others go out as they stand; the fourth is
    // the status flag (non-zero: large reserve, A-GPS data loadable).
    std::vector<std::uint8_t> status_bytes{0x00, 0x00, 0x00, 0x01};
    // Answer status_bytes exactly, whatever the A-GPS state.
    bool fixed_status_bytes = false;
    // Acknowledge every SetExpiryDate but never take the date, so the host's
    // check after loading A-GPS data always finds it "not updated".
    bool agps_refuse = false;
    // The watch's clock until a SetClock, running from when it is configured;
    // unset: the host's current UTC time.
    std::optional<WatchTime> start_time;
    // Once a program update is acknowledged the watch takes the program image
    // the way its bootloader does; when the program sum has been written it
    // reboots and stays silent this long (kNeverBack: it never answers again).
    static constexpr std::uint32_t kNeverBack = 0xFFFFFFFF;
    std::uint32_t reboot_ms = 5000;
    // Flash image loaded at construction when the file exists (empty: erased flash).
    // Generated content (sessions, paths, settings) belongs in such an image.
    std::string flash_image_path;
};

enum class FaultKind {
    silence,         // no reply
    delay,           // the reply leaves delay_ms later
    bad_checksum,    // the reply's checksum is off by one bit
    wrong_length,    // the reply payload has length_delta bytes more (or fewer)
    garbage_before,  // `garbage` precedes the reply frame
    split,           // the reply frame goes out in two writes, delay_ms apart
    duplicate,       // the reply frame goes out twice
    disconnect,      // the line goes away instead of a reply (after cut_after bytes of it)
    byte_by_byte,    // the reply frame goes out one byte per write, delay_ms apart
    reboot,          // the watch restarts on receipt: the command is lost, nothing is
                     // answered, and every frame arriving in the next delay_ms is ignored
    plain_ack,       // the command is carried out but answered with the plain
                     // acknowledgement 0x23 instead of its own reply
};

// Which received frames a fault hits: the next `repeat` frames carrying
// `command`, or (command unset) the frames numbered frame_number ..
// frame_number + repeat - 1 (1-based, counting every valid frame received;
// frames that arrive while the watch reboots are not received at all).
struct Fault {
    // Line noise that a host's receiver skips without losing the frame behind it.
    static constexpr std::array<std::uint8_t, 5> kDefaultGarbage{0x00, 0xFF, 0xB0, 0xB3, 0x55};

    FaultKind kind = FaultKind::silence;
    std::optional<std::uint8_t> command;
    std::size_t frame_number = 0;
    int repeat = 1;  // negative: every match from then on
    std::uint32_t delay_ms = 0;
    int length_delta = 1;  // wrong_length: +1 or -1
    // garbage_before; empty: kDefaultGarbage. Bytes ending in A0 would also swallow
    // the frame's own A0, as a host's receiver drops an A0 A0 A2 start.
    std::vector<std::uint8_t> garbage;
    std::size_t split_at = 0;   // split: bytes in the first write (0: half the frame)
    std::size_t cut_after = 0;  // disconnect: bytes of the reply frame that go out first

    static Fault on_command(FaultKind kind, std::uint8_t id, int repeat = 1) {
        Fault f;
        f.kind = kind;
        f.command = id;
        f.repeat = repeat;
        return f;
    }
    static Fault on_frame(FaultKind kind, std::size_t number, int repeat = 1) {
        Fault f;
        f.kind = kind;
        f.frame_number = number;
        f.repeat = repeat;
        return f;
    }
};

// What the watch found when it rebooted after a program update.
struct FirmwareUpdateResult {
    std::uint16_t boot_sum_stored = 0;       // sector 36, bytes 0..1
    std::uint16_t boot_sum_computed = 0;     // over sectors 34..35
    std::uint16_t program_sum_stored = 0;    // 0x20000..0x20001
    std::uint16_t program_sum_computed = 0;  // over sectors 2..31
    std::string version;         // long version text in the program image; empty: none found
    bool version_taken = false;  // it came back running that version
    bool boot_sum_ok() const { return boot_sum_stored == boot_sum_computed; }
    bool program_sum_ok() const { return program_sum_stored == program_sum_computed; }
};

class Watch {
  public:
    using Output = std::function<void(std::span<const std::uint8_t>)>;
    // Runs `task` after delay_ms (on the transport's terms).
    using Scheduler = std::function<void(std::uint32_t delay_ms, std::function<void()> task)>;

    explicit Watch(WatchConfig config = {});
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Hooks set by the transport. Without a scheduler, delays go to the virtual
    // clock when one is installed, else the feeding thread sleeps.
    void set_output(Output output);
    void set_scheduler(Scheduler scheduler);
    void set_disconnect_handler(std::function<void()> handler);

    // Bytes from the host, any split.
    void feed(std::span<const std::uint8_t> bytes);

    void add_fault(const Fault& fault);
    void clear_faults();

    // What the watch saw: every valid frame's payload, in order.
    std::vector<std::vector<std::uint8_t>> received() const;
    std::size_t received_count(std::uint8_t id) const;
    std::vector<std::uint8_t> received_ids() const;
    // Forgets what was received and numbers frames from 1 again.
    void clear_received();
    // Frames dropped by the watch's receiver (bad checksum or trailer).
    std::size_t rejected_frames() const;

    // The A-GPS expiry date the watch took (unset: none, or its last
    // SetExpiryDate was refused). Whether it has passed is up to the clock.
    std::optional<WatchDate> agps_expiry() const;
    // Takes the expiry date from directory bytes 112 (day), 113 (month) and 114
    // (year - 2000), as the watch does when it powers up: when they hold a valid
    // date and the A-GPS sectors a well-formed packet stream (and agps_refuse is
    // clear). Runs at construction; call it again after changing the flash
    // behind the watch's back.
    void load_agps_from_directory();
    // The watch's own clock: the SetClock time running on, else start_time
    // running on, else the host's current UTC time.
    WatchTime clock_now() const;

    // What the watch noted (refused expiry dates and why, reboots, ...), oldest
    // first. The sink receives every line, those noted before it was set first;
    // it is called without the watch's lock held.
    std::vector<std::string> log() const;
    void set_log_sink(std::function<void(const std::string&)> sink);
    // The running clock, once set.
    std::optional<WatchTime> time() const;
    bool rebooting() const;
    std::size_t reboots() const;
    // Between the acknowledgement of a program update and the reboot that ends it.
    bool in_update_mode() const;
    // The result of the last update's reboot, if any.
    std::optional<FirmwareUpdateResult> last_update() const;

    void set_config(const WatchConfig& config);
    WatchConfig config() const;

    // Flash access under the watch's lock.
    std::vector<std::uint8_t> read_flash(std::uint32_t address, std::size_t count) const;
    void with_flash(const std::function<void(Flash&)>& fn);
    bool save_image(const std::string& path, std::string& error) const;

  private:
    struct Emission {
        std::uint32_t delay_ms = 0;  // after the feed that caused it
        std::vector<std::uint8_t> bytes;
        bool disconnect = false;
    };

    void handle_frame(std::span<const std::uint8_t> payload, std::vector<Emission>& out);
    std::optional<std::vector<std::uint8_t>> answer(std::span<const std::uint8_t> payload);
    std::vector<Fault> take_matching_faults(std::uint8_t id);
    void emit(std::vector<Emission> emissions);
    void note(std::string line);
    void flush_log();
    WatchTime clock_now_locked() const;
    void take_expiry(const WatchDate& date);
    void load_agps_locked();
    std::vector<std::uint8_t> status_reply_locked() const;
    void reboot_after_update();
    void run_version(const std::string& long_version);
    void set_version_reply(const std::string& long_version);

    mutable std::mutex mutex_;
    WatchConfig config_;
    Flash flash_;
    wire::FrameAssembler assembler_;
    std::vector<std::vector<std::uint8_t>> received_;
    std::size_t frame_count_ = 0;
    std::vector<Fault> faults_;
    std::optional<WatchDate> agps_expiry_;
    std::optional<WatchTime> clock_set_;
    std::uint64_t clock_set_at_ms_ = 0;
    std::uint64_t start_time_at_ms_ = 0;
    std::uint64_t reboot_until_ms_ = 0;
    std::size_t reboots_ = 0;
    bool update_mode_ = false;
    std::optional<FirmwareUpdateResult> last_update_;

    Output output_;
    Scheduler scheduler_;
    std::function<void()> disconnect_handler_;
    std::vector<std::string> log_;
    std::vector<std::string> pending_log_;  // not yet given to the sink
    std::function<void(const std::string&)> log_sink_;

    // Scheduled tasks check this before touching the watch.
    struct Lifetime {
        std::mutex mutex;
        bool alive = true;
    };
    std::shared_ptr<Lifetime> lifetime_ = std::make_shared<Lifetime>();
};

}  // namespace stridelog::sim
