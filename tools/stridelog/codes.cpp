#include "codes.hpp"

namespace stridelog_tool {
namespace {

struct Entry {
    UINT code;
    CodeInfo info;
};

// Both tables are the header's own: one row per code, name and meaning included.
#define STRIDELOG_TOOL_CODE_ENTRY(name, value, final, meaning) {name, {#name, meaning}},
constexpr Entry kErrors[] = {STRIDELOG_ERROR_CODES(STRIDELOG_TOOL_CODE_ENTRY)};
constexpr Entry kResults[] = {STRIDELOG_RESULT_CODES(STRIDELOG_TOOL_CODE_ENTRY)};
#undef STRIDELOG_TOOL_CODE_ENTRY

template <std::size_t N>
CodeInfo find(const Entry (&table)[N], UINT code) {
    for (const auto& e : table)
        if (e.code == code) return e.info;
    return {"?", "unknown code"};
}

}  // namespace

CodeInfo error_info(UINT code) {
    return find(kErrors, code);
}
CodeInfo result_info(UINT code) {
    return find(kResults, code);
}

}  // namespace stridelog_tool
