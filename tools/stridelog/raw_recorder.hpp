// --raw DIR: every notification block saved exactly as it arrived, one file
// each, named <code in 4 hex digits>-<arrival number per code>.bin.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "stridelog/stridelog.h"

namespace stridelog_tool {

class RawRecorder {
  public:
    // Creates the folder when it is missing.
    bool Open(const std::string& folder, std::string& error);
    void record(UINT code, const std::vector<std::uint8_t>& block);
    // The first failed write, empty while every block was written.
    const std::string& error() const { return error_; }

    static std::string file_name(UINT code, unsigned sequence);

  private:
    std::string folder_;
    std::map<UINT, unsigned> next_sequence_;
    std::string error_;
};

}  // namespace stridelog_tool
