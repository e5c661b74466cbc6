#include "update/profile_file.hpp"

#include <ini.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>

#include "platform/text_encoding.hpp"

namespace stridelog::update {
namespace {

// A profile file bigger than this is not a profile file; refusing it keeps a
// hostile server from making us hold an arbitrary amount of memory.
constexpr std::uintmax_t kLargestProfileFile = 8u << 20;
// libinih's line buffer while we parse. A longer line is cut here rather than
// handed over in pieces: libinih would read the rest as a line of its own,
// which could turn the tail of a long value into a key.
constexpr int kLineBufferBytes = 64 * 1024;

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool same_name(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        return lower(x) == lower(y);
    });
}

// Text of the file as UTF-8: a UTF-16LE file (with its mark) is converted, a
// UTF-8 mark is dropped, anything else is taken as it stands.
std::string decode(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string wide;
        wide.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        }
        return platform::utf16_to_utf8(wide);
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return std::string(bytes);
}

// A value as the profile functions return it: one pair of matching quotes
// removed, then cut to the buffer (never in the middle of a surrogate pair).
std::string returned_value(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    std::u16string wide = platform::utf8_to_utf16(value);
    if (wide.size() <= kProfileValueLimit) return std::string(value);
    wide.resize(kProfileValueLimit);
    if (wide.back() >= 0xD800 && wide.back() <= 0xDBFF) wide.pop_back();
    return platform::utf16_to_utf8(wide);
}

// libinih's options are process-wide switches in the Debian build (compiled
// defaults: 200-byte stack line, multi-line values, ';' inline comments, '#'
// comments). They are set for the length of one parse and put back afterwards,
// under one lock, so no other parse of ours sees them half-set.
class InihSwitches {
  public:
    InihSwitches()
        : lock_(mutex()),
          saved_{ini_allow_multiline, ini_allow_inline_comments, ini_use_stack,
                 ini_allow_realloc,   ini_stop_on_first_error,   ini_allow_no_value},
          saved_max_line_(ini_max_line),
          saved_initial_alloc_(ini_initial_alloc),
          saved_start_prefixes_(ini_start_comment_prefixes) {
        ini_allow_multiline = false;
        ini_allow_inline_comments = false;
        ini_use_stack = false;  // the heap buffer takes the size below; the stack one cannot
        ini_allow_realloc = false;
        ini_stop_on_first_error = false;
        ini_allow_no_value = false;
        ini_max_line = kLineBufferBytes;
        ini_initial_alloc = kLineBufferBytes;
        ini_start_comment_prefixes = start_prefixes_;
    }
    ~InihSwitches() {
        ini_allow_multiline = saved_[0];
        ini_allow_inline_comments = saved_[1];
        ini_use_stack = saved_[2];
        ini_allow_realloc = saved_[3];
        ini_stop_on_first_error = saved_[4];
        ini_allow_no_value = saved_[5];
        ini_max_line = saved_max_line_;
        ini_initial_alloc = saved_initial_alloc_;
        ini_start_comment_prefixes = saved_start_prefixes_;
    }
    InihSwitches(const InihSwitches&) = delete;
    InihSwitches& operator=(const InihSwitches&) = delete;

  private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static inline char start_prefixes_[] = ";";  // '#' starts a key in the profile syntax
    std::lock_guard<std::mutex> lock_;
    bool saved_[6];
    int saved_max_line_;
    int saved_initial_alloc_;
    char* saved_start_prefixes_;
};

}  // namespace

// The state one parse shares between the line reader and the key handler.
// libinih reads a line, then reports its key before it reads the next one, so
// the reader's idea of the current line and section is the handler's too.
struct ProfileParse {
    std::string_view text;
    std::size_t position = 0;
    std::string line;  // the line last handed to libinih, as handed
    bool in_section = false;
    ProfileFile result;

    // One line for libinih, at most `capacity` - 1 bytes with its newline.
    static char* read_line(char* buffer, int capacity, void* stream) {
        auto& self = *static_cast<ProfileParse*>(stream);
        if (self.position >= self.text.size() || capacity < 3) return nullptr;
        std::size_t end = self.text.find('\n', self.position);
        if (end == std::string_view::npos) end = self.text.size();
        std::string_view line = self.text.substr(self.position, end - self.position);
        self.position = end + 1;

        line = line.substr(0, line.find('\0'));  // libinih would stop there anyway
        // Leading blanks go here so an indented line is never taken for the
        // continuation of the previous value.
        const std::size_t first = line.find_first_not_of(kBlanks);
        line = first == std::string_view::npos ? std::string_view{} : line.substr(first);
        line = line.substr(0, static_cast<std::size_t>(capacity) - 2);
        self.line.assign(line);
        self.note_section_header();

        std::copy(line.begin(), line.end(), buffer);
        buffer[line.size()] = '\n';
        buffer[line.size() + 1] = '\0';
        return buffer;
    }

    // Sections are followed here rather than through libinih, which reports
    // only sections that hold keys and cuts names at 49 characters.
    void note_section_header() {
        if (!line.starts_with('[')) return;
        const std::size_t close = line.find(']');
        if (close == std::string::npos) return;  // not a header: the section goes on
        result.sections_.push_back(
            {std::string(trim(std::string_view(line).substr(1, close - 1))), {}});
        in_section = true;
    }

    static int on_key(void* user, const char* /*section*/, const char* name, const char* value) {
        static_cast<ProfileParse*>(user)->add(name, value);
        return 1;
    }

    void add(std::string_view name, std::string_view value) {
        if (!in_section) return;  // keys before the first section belong to none
        // libinih also splits at ':'; the profile syntax knows only '='.
        const std::size_t separator = line.find_first_of("=:");
        if (separator != std::string::npos && line[separator] == ':') {
            const std::size_t equals = line.find('=');
            if (equals == std::string::npos) return;
            name = trim(std::string_view(line).substr(0, equals));
            value = trim(std::string_view(line).substr(equals + 1));
        }
        result.sections_.back().entries.emplace_back(std::string(name), std::string(value));
    }
};

ProfileFile ProfileFile::parse(std::string_view content) {
    const std::string text = decode(content);
    ProfileParse parse;
    parse.text = text;
    {
        InihSwitches switches;
        // The result is the number of the first line libinih could not read;
        // such lines are skipped, as the profile functions skip them.
        ini_parse_stream(&ProfileParse::read_line, &parse, &ProfileParse::on_key, &parse);
    }
    return std::move(parse.result);
}

std::optional<ProfileFile> ProfileFile::load(const std::filesystem::path& file) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size > kLargestProfileFile) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return parse(bytes);
}

std::optional<std::string> ProfileFile::value(std::string_view section,
                                              std::string_view key) const {
    const auto found = std::ranges::find_if(
        sections_, [&](const Section& s) { return same_name(s.name, section); });
    if (found == sections_.end()) return std::nullopt;
    for (const auto& [name, value] : found->entries) {
        if (!same_name(name, key)) continue;
        std::string text = returned_value(value);
        if (text.empty()) return std::nullopt;
        return text;
    }
    return std::nullopt;
}

std::vector<std::string> ProfileFile::section_names() const {
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const Section& s : sections_) names.push_back(s.name);
    return names;
}

void ProfileFile::append_numbered_lines(std::string_view section,
                                        std::vector<std::string>& lines) const {
    for (unsigned number = 0;; ++number) {
        const std::optional<std::string> line = value(section, std::to_string(number));
        if (!line) return;
        lines.push_back("- " + *line);
    }
}

int read_profile_string(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string& value) {
    value.clear();
    const std::optional<ProfileFile> profile = ProfileFile::load(file);
    if (!profile) return -1;
    std::optional<std::string> found = profile->value(section, key);
    if (!found) return -1;
    value = std::move(*found);
    return 0;
}

void read_numbered_lines(const std::filesystem::path& file, std::string_view section,
                         std::vector<std::string>& lines) {
    if (const std::optional<ProfileFile> profile = ProfileFile::load(file)) {
        profile->append_numbered_lines(section, lines);
    }
}

int read_section_names(const std::filesystem::path& file, std::vector<std::string>& names) {
    names.clear();
    if (const std::optional<ProfileFile> profile = ProfileFile::load(file)) {
        names = profile->section_names();
    }
    return 1;
}

bool file_exists(const std::filesystem::path& path) {
    if (path.empty()) return false;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    return !error && status.type() != std::filesystem::file_type::not_found;
}

}  // namespace stridelog::update
