/**
 * @file stridelog/hostkit.hpp
 * @brief The host kit: what every C++ host of the SDK needs beside the C interface.
 *
 * The blocks of the result notifications read into typed records (and the
 * records the set calls take written as their bytes), a session written as
 * GPX, TCX, JSON or FIT, and the index of a download folder. It knows only the
 * public header: link it with the SDK (pkg-config stridelog-hostkit, or the
 * CMake target Stridelog::hostkit). C++20.
 *
 * Reading a result notification that carries a block:
 * @code
 * namespace hk = stridelog::hostkit;
 * if (hk::carries_block(wParam)) {
 *     void* block = reinterpret_cast<void*>(lParam);
 *     auto record = hk::parse_result_block(
 *         wParam, hk::block_bytes(block, Stridelog_BlockSize(block)));
 *     Stridelog_FreeBlock(block);  // the record holds copies of what it needs
 *     if (!record) report(record.error());
 * }
 * @endcode
 *
 * @par Threads
 * Nothing in the host kit holds shared state: any thread may call it.
 * LocalTime::host_zone() reads the process's time zone, and a folder's
 * DownloadIndex belongs to one process at a time.
 */
#pragma once

#include "stridelog/hostkit/download_index.hpp"
#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/fit.hpp"
#include "stridelog/hostkit/records.hpp"
#include "stridelog/hostkit/result.hpp"
#include "stridelog/hostkit/text.hpp"

/**
 * @namespace stridelog::hostkit
 * @brief The host kit for C++ hosts: typed records, exporters, the download index.
 */
