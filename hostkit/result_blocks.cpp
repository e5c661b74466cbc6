// Any result notification's block, by its code.
#include "stridelog/hostkit/records.hpp"
#include "stridelog/stridelog.h"

namespace stridelog::hostkit {
namespace {

static_assert(kSettingsRecordSize == STRIDELOG_SETTINGS_SIZE);
static_assert(kViewsRecordSize == STRIDELOG_VIEWS_SIZE);

template <class T>
Result<Record> as_record(Result<T> result) {
    if (!result) return Error{result.error()};
    return Record(std::move(*result));
}

}  // namespace

bool carries_block(std::uint32_t code) {
    switch (code) {
        case SDK_MSG_SDK_VERSION:
        case SDK_MSG_WATCH_VERSION:
        case SDK_MSG_PATH:
        case SDK_MSG_SESSION:
        case SDK_MSG_SESSION_TRACK:
        case SDK_MSG_SUMMARY:
        case SDK_MSG_VIEWS:
        case SDK_MSG_SETTINGS:
        case SDK_MSG_PORT_LIST:
        case SDK_MSG_LONG_VERSION:
        case SDK_MSG_AGPS_LOADED:
        case SDK_MSG_SECTOR:
        case SDK_MSG_PROGRESS:
        case SDK_MSG_PHASE_PROGRESS:
            return true;
        default:
            return false;
    }
}

Result<Record> parse_result_block(std::uint32_t code, Bytes block) {
    switch (code) {
        case SDK_MSG_SDK_VERSION:
            return as_record(parse_sdk_version_block(block));
        case SDK_MSG_WATCH_VERSION:
            return as_record(parse_watch_version_block(block));
        case SDK_MSG_PATH:
            return as_record(parse_path_block(block));
        case SDK_MSG_SESSION:
            return as_record(parse_session_block(block, SessionBlockKind::without_track));
        case SDK_MSG_SESSION_TRACK:
            return as_record(parse_session_block(block, SessionBlockKind::with_track));
        case SDK_MSG_SUMMARY:
            return as_record(parse_summary_block(block));
        case SDK_MSG_VIEWS:
            return as_record(parse_views_block(block));
        case SDK_MSG_SETTINGS:
            return as_record(parse_settings_block(block));
        case SDK_MSG_PORT_LIST:
            return as_record(parse_port_list_block(block));
        case SDK_MSG_LONG_VERSION:
            return as_record(parse_long_version_block(block));
        case SDK_MSG_AGPS_LOADED:
            return as_record(parse_agps_loaded_block(block));
        case SDK_MSG_SECTOR:
            return as_record(parse_sector_block(block));
        case SDK_MSG_PROGRESS:
            return as_record(parse_progress_block(block));
        case SDK_MSG_PHASE_PROGRESS:
            return as_record(parse_phase_progress_block(block));
        default: {
            char text[64];
            std::snprintf(text, sizeof text, "result 0x%04X carries no block", code);
            return Error{text};
        }
    }
}

}  // namespace stridelog::hostkit
