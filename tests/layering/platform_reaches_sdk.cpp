// Platform code reaching up into the SDK: must not compile.
#include "sdk/task_window.hpp"
