// The shared library's own object: the application object the library
// constructs at load. The exported functions live in stridelog_core.
#include "platform/window_system.hpp"

namespace {

struct CSdkApp {
    // A name of the library's own, registered at load; nothing posts it.
    CSdkApp() { stridelog::platform::register_window_message("Stride_Log_SDK_V1.0_APP"); }
};

const CSdkApp theApp;

}  // namespace
