// The two primitive transfers of the watch's flash: a read run that fetches a
// contiguous run of bytes in 128-byte requests, and a sector write that
// prepares, erases and rewrites a sector in 128-byte chunks. One transfer is in
// flight at a time; each request waits for its reply under a window timer
// (kReadTimer and kWriteTimer), and nothing is retried.
//
// The task window owns one FlashTransfer, forwards the link's read data and
// write acknowledgements to it, and hands a completion to the running
// operation with the step code the operation gave when it started the transfer.
//
// Threads: the task window's thread only. The receive thread copies read data
// straight into the destination recorded by the read request; exactly one
// request is outstanding, so that destination is never in use twice.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "stridelog/win_types.h"
#include "task/catalogue.hpp"

namespace stridelog::task {

class TaskHost;

inline constexpr std::uint32_t kFirstReadTimeoutMs = 3000;
inline constexpr std::uint32_t kNextReadTimeoutMs = 250;
inline constexpr std::uint32_t kPathReadTimeoutMs = 250;
inline constexpr std::uint32_t kWriteStepTimeoutMs = 3000;

inline constexpr std::uint32_t kFlashSectorSize = 4096;
inline constexpr std::uint8_t kTransferChunkSize = 128;
// The largest read run, except the path sectors' own.
inline constexpr std::uint32_t kMaxReadRun = 8192;
inline constexpr std::size_t kDataBufferSize = 7 * kFlashSectorSize;
inline constexpr std::uint8_t kDirectorySector = 0;
inline constexpr std::uint8_t kIdentitySector = 255;
inline constexpr std::uint8_t kFirstPathSector = 249;
inline constexpr std::uint32_t kPathSectorsLength = 6 * kFlashSectorSize;

// One letter per command of a sector write: prepare, erase, write a chunk, and
// a step that only stops the write timer.
enum class WriteStep : char { prepare = 'e', erase = 'f', write = 'g', halt = 'h' };

class FlashTransfer {
  public:
    explicit FlashTransfer(TaskHost& host);

    // The 4096-byte copy of sector 0, and the seven-sector buffer every other read lands in.
    std::span<std::uint8_t> directory() { return directory_; }
    std::span<std::uint8_t> data() { return data_; }
    // Frees both (the task end).
    void release();

    // ---- read runs; each returns false (sending nothing) when refused ----
    // Sector x 4096, into the data buffer (the directory image for kDirectoryStep).
    bool start_sector_read(std::uint8_t sector, int step_code, std::uint32_t length,
                           std::uint32_t first_timeout_ms = kFirstReadTimeoutMs);
    // As above, landing at start_offset of the data buffer. Never sector 0 or 255.
    bool start_offset_read(std::uint8_t sector, int step_code, std::uint32_t start_offset,
                           std::uint32_t length);
    bool read_directory();
    // 128 bytes from any byte address, into the data buffer.
    bool read_128(std::uint32_t address, int step_code);
    bool read_path_sectors(int step_code);

    // ---- sector writes ----
    // Prepare, erase, then the chunks: 0x24, 0x14, and one 0x16 per 128 bytes.
    void write_sector(std::uint32_t start_address, std::span<const std::uint8_t> source,
                      int step_code);
    // The same with the first two steps chosen by the caller; the third always writes.
    void write_sector_with_steps(std::uint32_t start_address, std::span<const std::uint8_t> source,
                                 int step_code, WriteStep first, WriteStep second);
    // One write command carrying the whole source (at most 250 bytes), after
    // prepare and erase.
    void write_in_one_chunk(std::uint32_t start_address, std::span<const std::uint8_t> source,
                            int step_code);

    // Prepare and erase only: the sector is left erased, nothing written. The
    // erase's acknowledgement completes it (on_step_ack gives the step code).
    void erase_sector(std::uint32_t start_address, int step_code);

    // ---- events forwarded by the task window ----
    // 0xbd7: `count` bytes were copied to `destination`.
    void on_read_data(const std::uint8_t* destination, std::size_t count);
    // 0xc34: the step code of a run that is now complete, or nothing.
    std::optional<int> on_chunk_stored();
    // 0xbe2, 0xbe1, 0xbd9 (the timer is already killed): the next step, or
    // the step code of an erase that is now complete.
    std::optional<int> on_step_ack();
    // 0xbd8: the step code of a write that is now complete, or nothing.
    std::optional<int> on_write_ack();
    // kReadTimer and kWriteTimer: ends the task; true when the id was one of them.
    bool on_timer(UINT_PTR id);

    // Read requests this transfer has sent (tests, benchmarks).
    std::uint32_t read_requests() const { return read_requests_; }

  private:
    struct ReadRun {
        std::uint32_t address = 0;
        std::uint8_t* destination = nullptr;
        std::uint32_t length = 0;
        std::uint32_t received = 0;
        std::uint8_t requested = 0;  // bytes asked for by the request outstanding
        int step_code = 0;
        bool active = false;
    };
    struct Write {
        const std::uint8_t* source = nullptr;
        std::uint32_t start = 0;
        std::uint32_t current = 0;
        std::uint32_t length = 0;
        std::uint32_t chunk = kTransferChunkSize;
        std::array<WriteStep, 3> steps{};
        std::uint8_t index = 0;
        std::uint8_t count = 0;
        int step_code = 0;
        bool active = false;
    };

    bool start_run(std::uint32_t address, std::uint8_t* destination, std::uint32_t length,
                   int step_code, std::uint32_t first_timeout_ms);
    void request_next_chunk(std::uint32_t timeout_ms);
    void start_write(std::uint32_t start_address, std::span<const std::uint8_t> source,
                     std::uint32_t chunk, int step_code, WriteStep first, WriteStep second,
                     std::uint8_t count = 3);
    void perform_step();
    void pace_read_progress();

    TaskHost& host_;
    std::vector<std::uint8_t> directory_;
    std::vector<std::uint8_t> data_;
    std::mutex lock_;  // the read run's state
    ReadRun run_;
    Write write_;
    std::uint32_t read_requests_ = 0;
};

// The process-wide count of stored read chunks that paces read progress (one
// step per 4096 bytes, carried over from task to task). Tests reset it.
void reset_read_chunk_progress();

}  // namespace stridelog::task
