#include "task/flash_transfer.hpp"

#include <algorithm>
#include <atomic>

#include "link/link_messages.hpp"
#include "link/watch_link.hpp"
#include "stridelog/stridelog.h"
#include "task/operation.hpp"

namespace stridelog::task {
namespace {

constexpr int kProgressUnset = -1;
constexpr int kProgressStepBytes = 4096;
// Counts stored read chunks in bytes for the whole process, so a second task
// continues where the first stopped.
std::atomic<int> g_read_chunk_progress{kProgressUnset};

}  // namespace

void reset_read_chunk_progress() {
    g_read_chunk_progress = kProgressUnset;
}

FlashTransfer::FlashTransfer(TaskHost& host)
    : host_(host), directory_(kFlashSectorSize, 0), data_(kDataBufferSize, 0) {}

void FlashTransfer::release() {
    std::lock_guard lock(lock_);
    run_ = {};
    write_ = {};
    directory_.clear();
    directory_.shrink_to_fit();
    data_.clear();
    data_.shrink_to_fit();
}

// ---- read runs ------------------------------------------------------------

bool FlashTransfer::start_sector_read(std::uint8_t sector, int step_code, std::uint32_t length,
                                      std::uint32_t first_timeout_ms) {
    if (length > kMaxReadRun) return false;
    std::uint8_t* destination = step_code == kDirectoryStep ? directory_.data() : data_.data();
    const std::size_t room = step_code == kDirectoryStep ? directory_.size() : data_.size();
    if (length > room) return false;
    return start_run(sector * kFlashSectorSize, destination, length, step_code, first_timeout_ms);
}

bool FlashTransfer::start_offset_read(std::uint8_t sector, int step_code,
                                      std::uint32_t start_offset, std::uint32_t length) {
    if (sector == kDirectorySector || sector == kIdentitySector ||
        start_offset > kFlashSectorSize || length > kMaxReadRun ||
        start_offset + length > data_.size())
        return false;
    return start_run(sector * kFlashSectorSize, data_.data() + start_offset, length, step_code,
                     kFirstReadTimeoutMs);
}

bool FlashTransfer::read_directory() {
    return start_sector_read(kDirectorySector, kDirectoryStep, kFlashSectorSize);
}

bool FlashTransfer::read_128(std::uint32_t address, int step_code) {
    if (data_.size() < kTransferChunkSize) return false;
    return start_run(address, data_.data(), kTransferChunkSize, step_code, kFirstReadTimeoutMs);
}

bool FlashTransfer::read_path_sectors(int step_code) {
    if (data_.size() < kPathSectorsLength) return false;
    return start_run(kFirstPathSector * kFlashSectorSize, data_.data(), kPathSectorsLength,
                     step_code, kPathReadTimeoutMs);
}

bool FlashTransfer::start_run(std::uint32_t address, std::uint8_t* destination,
                              std::uint32_t length, int step_code, std::uint32_t first_timeout_ms) {
    if (length == 0 || destination == nullptr) return false;
    {
        std::lock_guard lock(lock_);
        run_ = {address, destination, length, 0, 0, step_code, true};
    }
    request_next_chunk(first_timeout_ms);
    return true;
}

void FlashTransfer::request_next_chunk(std::uint32_t timeout_ms) {
    std::uint32_t address = 0;
    std::uint8_t* destination = nullptr;
    std::uint8_t count = 0;
    {
        std::lock_guard lock(lock_);
        count = static_cast<std::uint8_t>(
            std::min<std::uint32_t>(kTransferChunkSize, run_.length - run_.received));
        run_.requested = count;
        address = run_.address + run_.received;
        destination = run_.destination + run_.received;
    }
    ++read_requests_;
    // A request the link cannot send is caught by the timer like a lost reply.
    if (link::CWatchLink* link = host_.link()) link->ReadMemory(address, count, destination);
    host_.set_timer(kReadTimer, timeout_ms);
}

void FlashTransfer::on_read_data(const std::uint8_t* destination, std::size_t count) {
    std::lock_guard lock(lock_);
    // Only the reply to the request outstanding counts; anything else leaves the
    // run waiting, and its timer ends the task.
    if (!run_.active || count != run_.requested || destination != run_.destination + run_.received)
        return;
    run_.received += static_cast<std::uint32_t>(count);
    run_.requested = 0;
    host_.post_to_self(link::WM_READ_CHUNK_STORED);
}

void FlashTransfer::pace_read_progress() {
    int progress = g_read_chunk_progress.load();
    if (progress == kProgressUnset) progress = kTransferChunkSize;
    if (progress != kProgressStepBytes) {
        progress += kTransferChunkSize;
    } else {
        progress = 0;
        host_.step_progress();
        host_.post_progress(host_.bar_percent());
    }
    g_read_chunk_progress = progress;
}

std::optional<int> FlashTransfer::on_chunk_stored() {
    host_.kill_timer(kReadTimer);
    bool complete = false;
    int step_code = 0;
    {
        std::lock_guard lock(lock_);
        if (!run_.active) return std::nullopt;
        complete = run_.received >= run_.length;
        step_code = run_.step_code;
        if (complete) run_.active = false;
    }
    pace_read_progress();
    if (complete) return step_code;
    request_next_chunk(kNextReadTimeoutMs);
    return std::nullopt;
}

// ---- sector writes ----------------------------------------------------------

void FlashTransfer::write_sector(std::uint32_t start_address, std::span<const std::uint8_t> source,
                                 int step_code) {
    start_write(start_address, source, kTransferChunkSize, step_code, WriteStep::prepare,
                WriteStep::erase);
}

void FlashTransfer::write_sector_with_steps(std::uint32_t start_address,
                                            std::span<const std::uint8_t> source, int step_code,
                                            WriteStep first, WriteStep second) {
    start_write(start_address, source, kTransferChunkSize, step_code, first, second);
}

void FlashTransfer::write_in_one_chunk(std::uint32_t start_address,
                                       std::span<const std::uint8_t> source, int step_code) {
    const auto chunk = static_cast<std::uint32_t>(std::clamp<std::size_t>(source.size(), 1, 250));
    start_write(start_address, source, chunk, step_code, WriteStep::prepare, WriteStep::erase);
}

void FlashTransfer::start_write(std::uint32_t start_address, std::span<const std::uint8_t> source,
                                std::uint32_t chunk, int step_code, WriteStep first,
                                WriteStep second, std::uint8_t count) {
    write_ = {};
    write_.source = source.data();
    write_.start = start_address;
    write_.current = start_address;
    write_.length = static_cast<std::uint32_t>(source.size());
    write_.chunk = chunk;
    write_.steps = {first, second, WriteStep::write};
    write_.index = 0;
    write_.count = count;
    write_.step_code = step_code;
    write_.active = true;
    perform_step();
}

void FlashTransfer::perform_step() {
    host_.kill_timer(kWriteTimer);
    link::CWatchLink* link = host_.link();
    if (link == nullptr) {
        host_.post_to_host(link::WM_NO_LINK_FOR_WRITE);
        return;
    }
    if (!write_.active || write_.index >= write_.count) return;
    host_.set_timer(kWriteTimer, kWriteStepTimeoutMs);
    switch (write_.steps[write_.index]) {
        case WriteStep::prepare:
            link->PrepareWrite();
            return;
        case WriteStep::erase:
            link->EraseSector(write_.current);
            return;
        case WriteStep::write: {
            // The last chunk of a source that is not a whole number of chunks
            // carries only what is left: never bytes past the source's end.
            const std::uint32_t done = write_.current - write_.start;
            const auto count =
                static_cast<std::uint8_t>(std::min(write_.chunk, write_.length - done));
            link->WriteMemory(write_.current, count, write_.source);
            return;
        }
        case WriteStep::halt:
            host_.kill_timer(kWriteTimer);
            return;
    }
}

void FlashTransfer::erase_sector(std::uint32_t start_address, int step_code) {
    start_write(start_address, {}, kTransferChunkSize, step_code, WriteStep::prepare,
                WriteStep::erase, 2);
}

std::optional<int> FlashTransfer::on_step_ack() {
    if (!write_.active) return std::nullopt;
    ++write_.index;
    if (write_.index >= write_.count && write_.steps[write_.count - 1] != WriteStep::write) {
        write_.active = false;
        host_.kill_timer(kWriteTimer);
        return write_.step_code;
    }
    perform_step();
    return std::nullopt;
}

std::optional<int> FlashTransfer::on_write_ack() {
    if (!write_.active) return std::nullopt;
    write_.current += write_.chunk;
    if (write_.current >= write_.start + write_.length) {
        write_.active = false;
        return write_.step_code;
    }
    write_.steps = {WriteStep::write, WriteStep::halt, WriteStep::halt};
    write_.index = 0;
    write_.count = 1;
    write_.source += write_.chunk;
    perform_step();
    return std::nullopt;
}

bool FlashTransfer::on_timer(UINT_PTR id) {
    constexpr float kFull = 100.0f;
    if (id == kReadTimer) {
        host_.post_error(SDK_ERR_TRANSFER);
        host_.post_progress(kFull);
        host_.end_task();
        return true;
    }
    if (id == kWriteTimer) {
        host_.kill_timer(kWriteTimer);
        host_.post_progress(kFull);
        host_.post_error(SDK_ERR_TRANSFER);
        host_.end_task();
        return true;
    }
    return false;
}

}  // namespace stridelog::task
