// The record, kept in a download folder, of which sessions were written there
// and under which file names: what `workouts download --new` skips, and which
// files may be overwritten by the same session again.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace stridelog_tool {

// One line per file written: "<identity> <format> <file name>"; lines starting
// with '#' are comments.
constexpr const char* kDownloadIndexName = ".stridelog-downloads";

class DownloadIndex {
  public:
    struct Entry {
        std::string identity;
        std::string format;  // the file extension: gpx, tcx, json
        std::string file;    // name inside the folder
    };

    // A missing index is an empty one. False, with the reason, when it cannot be read.
    bool Load(const std::string& folder, std::string& error);
    // Written whole under a temporary name, then renamed over the old one.
    bool Save(std::string& error) const;

    bool Contains(const std::string& identity, const std::string& format) const;
    void Add(const std::string& identity, const std::string& format, const std::string& file);
    const std::vector<Entry>& entries() const { return entries_; }

    // Parses the index text; malformed lines are reported and left out.
    static std::vector<Entry> Parse(const std::string& text, std::vector<std::string>* bad_lines);

  private:
    std::string folder_;
    std::vector<Entry> entries_;
};

// The first of stem.ext, stem_2.ext, stem_3.ext, ... that taken() says is
// free for this session.
std::string ChooseFileName(const std::string& stem, const std::string& extension,
                           const std::function<bool(const std::string&)>& taken);

}  // namespace stridelog_tool
