#include "raw_recorder.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace stridelog_tool {
namespace {

// False with errno set by the call that failed.
bool write_whole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0) written = false;
    return written;
}

}  // namespace

bool RawRecorder::Open(const std::string& folder, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
        error = folder + ": " + (ec ? ec.message() : std::string("not a folder"));
        return false;
    }
    folder_ = folder;
    return true;
}

std::string RawRecorder::file_name(UINT code, unsigned sequence) {
    char name[32];
    std::snprintf(name, sizeof name, "%04x-%03u.bin", code, sequence);
    return name;
}

void RawRecorder::record(UINT code, const std::vector<std::uint8_t>& block) {
    const std::string path = folder_ + "/" + file_name(code, next_sequence_[code]++);
    if (!write_whole(path, block) && error_.empty()) error_ = path + ": " + std::strerror(errno);
}

}  // namespace stridelog_tool
