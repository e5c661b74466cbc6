// The record, kept in a download folder, of which sessions were written there
// and under which file names: what a host skips when it downloads only new
// sessions, and which files the same session may overwrite.
//
// Threads: a DownloadIndex is a plain value; one folder's index should be
// loaded and saved by one process at a time.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "stridelog/hostkit/result.hpp"

namespace stridelog::hostkit {

// One line per file written: "<identity> <format> <file name>"; lines starting
// with '#' are comments.
constexpr const char* kDownloadIndexName = ".stridelog-downloads";

class DownloadIndex {
  public:
    struct Entry {
        std::string identity;  // session_identity()
        std::string format;    // the file extension: gpx, tcx, json
        std::string file;      // name inside the folder
    };

    // The index of `folder`; a missing index is an empty one. An error when it
    // cannot be read or holds a malformed line.
    static Result<DownloadIndex> load(const std::string& folder);
    // Written whole under a temporary name, then renamed over the old one.
    Result<void> save() const;

    bool contains(const std::string& identity, const std::string& format) const;
    // A file name holds one session: a name written again drops its old line.
    void add(const std::string& identity, const std::string& format, const std::string& file);
    const std::vector<Entry>& entries() const { return entries_; }
    const std::string& folder() const { return folder_; }

    // Parses the index text; malformed lines are left out and, when bad_lines
    // is given, appended to it.
    static std::vector<Entry> parse(const std::string& text, std::vector<std::string>* bad_lines);

  private:
    std::string folder_;
    std::vector<Entry> entries_;
};

// The first of stem.ext, stem_2.ext, stem_3.ext, ... that taken() says is
// free for this session.
std::string choose_file_name(const std::string& stem, const std::string& extension,
                             const std::function<bool(const std::string&)>& taken);

}  // namespace stridelog::hostkit
