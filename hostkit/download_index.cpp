#include "stridelog/hostkit/download_index.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace stridelog::hostkit {
namespace {

constexpr std::size_t kIdentityLength = 64;  // SHA-256 in hex

bool is_identity(const std::string& text) {
    if (text.size() != kIdentityLength) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

std::vector<DownloadIndex::Entry> DownloadIndex::parse(const std::string& text,
                                                       std::vector<std::string>* bad_lines) {
    std::vector<Entry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto first = line.find(' ');
        const auto second = first == std::string::npos ? first : line.find(' ', first + 1);
        Entry entry;
        if (second != std::string::npos) {
            entry.identity = line.substr(0, first);
            entry.format = line.substr(first + 1, second - first - 1);
            entry.file = line.substr(second + 1);
        }
        // A file name is a name inside the folder, never a way out of it.
        if (!is_identity(entry.identity) || entry.format.empty() || entry.file.empty() ||
            entry.file.find('/') != std::string::npos) {
            if (bad_lines != nullptr) bad_lines->push_back(line);
            continue;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

Result<DownloadIndex> DownloadIndex::load(const std::string& folder) {
    DownloadIndex index;
    index.folder_ = folder;
    const std::string path = folder + "/" + kDownloadIndexName;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return index;
        return Error{path + ": " + std::strerror(errno)};
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::string> bad;
    index.entries_ = parse(text.str(), &bad);
    if (!bad.empty())
        return Error{path + ": a line that is not \"<identity> <format> <file>\": " + bad.front()};
    return index;
}

Result<void> DownloadIndex::save() const {
    const std::string path = folder_ + "/" + kDownloadIndexName;
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << "# stridelog downloads: <session identity> <format> <file>\n";
        for (const auto& e : entries_)
            out << e.identity << ' ' << e.format << ' ' << e.file << '\n';
        out.close();
        if (!out) {
            const std::string error = part + ": " + std::strerror(errno);
            std::remove(part.c_str());
            return Error{error};
        }
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        const std::string error = path + ": " + std::strerror(errno);
        std::remove(part.c_str());
        return Error{error};
    }
    return {};
}

bool DownloadIndex::contains(const std::string& identity, const std::string& format) const {
    for (const auto& e : entries_)
        if (e.identity == identity && e.format == format) return true;
    return false;
}

void DownloadIndex::add(const std::string& identity, const std::string& format,
                        const std::string& file) {
    std::erase_if(entries_, [&](const Entry& e) { return e.file == file; });
    entries_.push_back({identity, format, file});
}

std::string choose_file_name(const std::string& stem, const std::string& extension,
                             const std::function<bool(const std::string&)>& taken) {
    std::string name = stem + "." + extension;
    for (unsigned n = 2; taken(name); ++n) name = stem + "_" + std::to_string(n) + "." + extension;
    return name;
}

}  // namespace stridelog::hostkit
