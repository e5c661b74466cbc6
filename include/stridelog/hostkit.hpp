// The host kit: what every C++ host of the SDK needs beside the C interface.
// The blocks of the result notifications read into typed records (and the
// records the set calls take written as their bytes), a session written as
// GPX, TCX, JSON or FIT, and the index of a download folder. It knows only the
// public header: link it with the SDK (pkg-config stridelog-hostkit, or the
// CMake target Stridelog::hostkit).
#pragma once

#include "stridelog/hostkit/download_index.hpp"
#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/fit.hpp"
#include "stridelog/hostkit/records.hpp"
#include "stridelog/hostkit/result.hpp"
#include "stridelog/hostkit/text.hpp"
