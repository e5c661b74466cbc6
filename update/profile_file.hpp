// Initialisation-file readers for the firmware update: the update description,
// the release-note history and the firmware's settings file all come in the
// Windows profile syntax, and are read the way the Windows profile functions
// read them:
//   - "[name]" opens a section; "key=value" lines belong to the last section;
//     section and key names match without regard to ASCII case, the first
//     section of a name and the first key of a name win;
//   - a line whose first non-blank character is ';' is a comment; a ';' later
//     in a line is part of the value; ':' is not a separator; an indented line
//     is a line of its own, never the continuation of the previous value;
//   - blanks around names and values are dropped, then one pair of matching
//     quotes around a value; at most 259 characters (UTF-16 units) of a value
//     are returned, and an empty value counts as missing;
//   - section names are listed in file order, empty sections included;
//   - files are UTF-8 (byte order mark optional) or UTF-16LE with its mark.
// Lines are tokenised by libinih; what libinih's build cannot do (or does
// differently) is handled around it in profile_file.cpp.
//
// Threads: any thread; a ProfileFile is an immutable value once loaded.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace stridelog::update {

// Longest value a read returns, in UTF-16 units (a 260-unit buffer with its NUL).
inline constexpr std::size_t kProfileValueLimit = 259;

class ProfileFile {
  public:
    // nullopt when the file cannot be opened or read.
    static std::optional<ProfileFile> load(const std::filesystem::path& file);
    // The same reading over text already in memory (what a file holds).
    static ProfileFile parse(std::string_view content);

    // The value of `key` in `section`, or nullopt when it is missing or empty.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // Every section name in file order.
    std::vector<std::string> section_names() const;
    // "- " + the values of keys "0", "1", "2", ... up to the first missing or
    // empty one, appended to `lines`.
    void append_numbered_lines(std::string_view section, std::vector<std::string>& lines) const;

  private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    friend struct ProfileParse;
    std::vector<Section> sections_;
};

// The free readers take a full path and read the file afresh on every call.

// 0 and the value when the key exists with a non-empty value; -1 otherwise,
// with `value` emptied.
int read_profile_string(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string& value);
// Appends the numbered lines of `section` (nothing when the file is missing).
void read_numbered_lines(const std::filesystem::path& file, std::string_view section,
                         std::vector<std::string>& lines);
// Empties `names` and lists every section of the file in file order; a missing
// file lists none. Returns 1 (there is no allocation that can fail here).
int read_section_names(const std::filesystem::path& file, std::vector<std::string>& names);
// False for an empty path; otherwise whether the path's status can be read.
bool file_exists(const std::filesystem::path& path);

}  // namespace stridelog::update
