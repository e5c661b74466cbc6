// The host helpers that choose how windows and questions are presented.
#include <unistd.h>

#include <iostream>

#include "stridelog/stridelog.h"
#include "ui/presenter.hpp"

extern "C" STRIDELOG_API BOOL Stridelog_UsePresenter(int kind, const char* path) {
    using namespace stridelog::ui;
    switch (kind) {
        case STRIDELOG_PRESENTER_NONE:
            InstallPresenter(nullptr);
            return TRUE;
        case STRIDELOG_PRESENTER_TERMINAL:
            // The window is drawn on stderr, so a host's results on stdout stay clean.
            InstallPresenter(
                MakeTerminalPresenter(std::cerr, std::cin, isatty(STDERR_FILENO) == 1));
            return TRUE;
        case STRIDELOG_PRESENTER_IMAGE:
            if (path == nullptr || *path == '\0') return FALSE;
            InstallPresenter(MakeImagePresenter(path));
            return TRUE;
        default:
            return FALSE;
    }
}

extern "C" STRIDELOG_API void Stridelog_SetConfirmAnswer(int answer) {
    stridelog::ui::SetForcedConfirmAnswer(answer);
}
