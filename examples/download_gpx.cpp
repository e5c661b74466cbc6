// Downloads every workout on the watch and writes one GPX file per session
// into the current folder, named by the session's start. The watch (or
// stridelog-sim) is found on its cable like any task's; nothing is started here.
//   c++ -std=c++20 download_gpx.cpp $(pkg-config --cflags --libs stridelog-hostkit)
#include <stridelog/stridelog.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stridelog/hostkit.hpp>

namespace hostkit = stridelog::hostkit;

static int status = -1;  // the exit status, once the download has ended

static LRESULT on_notification(void*, HWND, UINT message, WPARAM code, LPARAM lparam) {
    void* block = reinterpret_cast<void*>(lparam);
    const bool result = message == Stridelog_ResultMessageId();
    if (result && (code == SDK_MSG_SESSION || code == SDK_MSG_SESSION_TRACK)) {
        const auto session =
            hostkit::parse_session_block(hostkit::block_bytes(block, Stridelog_BlockSize(block)));
        if (session) {
            const std::string name = hostkit::choose_file_name(
                hostkit::session_file_stem(*session), "gpx",
                [](const std::string& file) { return std::filesystem::exists(file); });
            std::ofstream(name) << hostkit::write_gpx(*session, hostkit::LocalTime::host_zone());
            std::printf("%s\n", name.c_str());
        } else {
            std::fprintf(stderr, "%s\n", session.error().c_str());
        }
    }
    if (result && (code == SDK_MSG_WORKOUTS_DONE || code == SDK_MSG_NO_WORKOUTS)) status = 0;
    if (message == Stridelog_ErrorMessageId()) {
        std::fprintf(stderr, "error 0x%04X\n", static_cast<unsigned>(code));
        status = 1;
    }
    Stridelog_FreeBlock(block);  // the host owns every block it receives
    return 0;
}

int main() {
    HWND host = Stridelog_CreateHostWindow(on_notification, nullptr);
    GetAllWorkout(host, FALSE, FALSE);
    Stridelog_RunUntil([](void*) { return status >= 0 ? 1 : 0; }, nullptr, 600'000);
    Stridelog_DestroyHostWindow(host);
    return status == 0 ? 0 : 1;
}
