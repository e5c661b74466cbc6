// Names and meanings of the notification codes, for messages people read.
#pragma once

#include <string>

#include "stridelog/stridelog.h"

namespace stridelog_tool {

struct CodeInfo {
    const char* name;
    const char* meaning;
};

// {"?", "unknown code"} for a code outside the tables.
CodeInfo error_info(UINT code);
CodeInfo result_info(UINT code);

}  // namespace stridelog_tool
