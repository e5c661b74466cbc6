#include "download_index.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace stridelog_tool {
namespace {

constexpr std::size_t kIdentityLength = 64;  // SHA-256 in hex

bool IsIdentity(const std::string& text) {
    if (text.size() != kIdentityLength) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

std::vector<DownloadIndex::Entry> DownloadIndex::Parse(const std::string& text,
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
        if (!IsIdentity(entry.identity) || entry.format.empty() || entry.file.empty() ||
            entry.file.find('/') != std::string::npos) {
            if (bad_lines != nullptr) bad_lines->push_back(line);
            continue;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool DownloadIndex::Load(const std::string& folder, std::string& error) {
    folder_ = folder;
    entries_.clear();
    const std::string path = folder + "/" + kDownloadIndexName;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return true;
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::string> bad;
    entries_ = Parse(text.str(), &bad);
    if (!bad.empty()) {
        error = path + ": a line that is not \"<identity> <format> <file>\": " + bad.front();
        return false;
    }
    return true;
}

bool DownloadIndex::Save(std::string& error) const {
    const std::string path = folder_ + "/" + kDownloadIndexName;
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << "# stridelog downloads: <session identity> <format> <file>\n";
        for (const auto& e : entries_)
            out << e.identity << ' ' << e.format << ' ' << e.file << '\n';
        out.close();
        if (!out) {
            error = part + ": " + std::strerror(errno);
            std::remove(part.c_str());
            return false;
        }
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        std::remove(part.c_str());
        return false;
    }
    return true;
}

bool DownloadIndex::Contains(const std::string& identity, const std::string& format) const {
    for (const auto& e : entries_)
        if (e.identity == identity && e.format == format) return true;
    return false;
}

void DownloadIndex::Add(const std::string& identity, const std::string& format,
                        const std::string& file) {
    // A file name holds one session: a name written again drops its old line.
    std::erase_if(entries_, [&](const Entry& e) { return e.file == file; });
    entries_.push_back({identity, format, file});
}

std::string ChooseFileName(const std::string& stem, const std::string& extension,
                           const std::function<bool(const std::string&)>& taken) {
    std::string name = stem + "." + extension;
    for (unsigned n = 2; taken(name); ++n) name = stem + "_" + std::to_string(n) + "." + extension;
    return name;
}

}  // namespace stridelog_tool
