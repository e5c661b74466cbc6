/**
 * @file stridelog/hostkit/download_index.hpp
 * @brief The record, kept in a download folder, of which sessions were written
 * there and under which file names.
 *
 * What a host skips when it downloads only new sessions, and which files the
 * same session may overwrite.
 *
 * @par Threads
 * A DownloadIndex is a plain value; one folder's index should be loaded and
 * saved by one process at a time.
 */
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "stridelog/hostkit/result.hpp"

namespace stridelog::hostkit {

/// @brief The index's file name inside the folder.
///
/// One line per file written: "<identity> <format> <file name>" (the file name
/// is the rest of the line and may hold spaces); lines starting with '#' and
/// empty lines are skipped.
constexpr const char* kDownloadIndexName = ".stridelog-downloads";

/// @brief The download index of one folder.
class DownloadIndex {
  public:
    /// @brief One file written: which session, in which format, under which name.
    struct Entry {
        std::string identity;  ///< session_identity(): 64 lowercase hexadecimal digits
        std::string format;    ///< the file extension: gpx, tcx, json, fit
        std::string file;      ///< name inside the folder, without '/'
    };

    /**
     * @brief Loads the index of a folder.
     * @param folder the download folder
     * @return the index; empty when the folder holds no index file. An Error
     *         naming the file when it cannot be read, or naming the first
     *         malformed line (see parse())
     */
    static Result<DownloadIndex> load(const std::string& folder);

    /**
     * @brief Saves the index into its folder.
     *
     * Written whole under the name kDownloadIndexName + ".part", then renamed
     * over the old index, so a failed save leaves the old one intact.
     * @return success; an Error naming the file and the system's reason when it
     *         cannot be written or renamed (the ".part" file is then removed)
     */
    Result<void> save() const;

    /**
     * @brief Whether a session was written in a format.
     * @param identity the session's session_identity()
     * @param format the file extension, such as "gpx"
     * @return true when an entry has both
     */
    bool contains(const std::string& identity, const std::string& format) const;

    /**
     * @brief Records a file written.
     *
     * A file name holds one session: a name written again drops its old line.
     * The index changes in memory only; save() writes it.
     * @param identity the session's session_identity()
     * @param format the file extension, such as "gpx"
     * @param file the file's name inside the folder
     */
    void add(const std::string& identity, const std::string& format, const std::string& file);

    /// @return the entries, in file order, then in the order added
    const std::vector<Entry>& entries() const { return entries_; }
    /// @return the folder given to load(); empty for a default-made index
    const std::string& folder() const { return folder_; }

    /**
     * @brief Parses the text of an index file.
     *
     * A well-formed line is three space-separated fields: an identity of 64
     * lowercase hexadecimal digits, a non-empty format, and a non-empty file
     * name holding no '/' (a name inside the folder, never a way out of it).
     * @param text the file's contents
     * @param bad_lines when not null, malformed lines are appended to it
     * @return the well-formed entries, in file order; malformed lines are left out
     */
    static std::vector<Entry> parse(const std::string& text, std::vector<std::string>* bad_lines);

  private:
    std::string folder_;
    std::vector<Entry> entries_;
};

/**
 * @brief Chooses a free file name for a session.
 * @param stem the name without extension, such as session_file_stem()
 * @param extension the extension without dot, such as "gpx"
 * @param taken called with stem.ext, stem_2.ext, stem_3.ext, ... in turn;
 *        returns true while that name is not free for this session
 * @return the first name @p taken calls free
 */
std::string choose_file_name(const std::string& stem, const std::string& extension,
                             const std::function<bool(const std::string&)>& taken);

}  // namespace stridelog::hostkit
