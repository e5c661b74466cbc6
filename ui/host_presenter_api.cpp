// The host helpers that choose how windows and questions are presented.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "stridelog/stridelog.h"
#include "ui/presenter.hpp"

extern "C" STRIDELOG_API BOOL Stridelog_UsePresenter(int kind, const char* path) {
    using namespace stridelog::ui;
    switch (kind) {
        case STRIDELOG_PRESENTER_NONE:
            install_presenter(nullptr);
            return TRUE;
        case STRIDELOG_PRESENTER_TERMINAL:
            // The window is drawn on stderr, so a host's results on stdout stay clean.
            install_presenter(
                make_terminal_presenter(std::cerr, std::cin, isatty(STDERR_FILENO) == 1));
            return TRUE;
        case STRIDELOG_PRESENTER_IMAGE:
            if (path == nullptr || *path == '\0') return FALSE;
            install_presenter(make_image_presenter(path));
            return TRUE;
        default:
            return FALSE;
    }
}

extern "C" STRIDELOG_API void Stridelog_SetConfirmAnswer(int answer) {
    stridelog::ui::set_forced_confirm_answer(answer);
}

extern "C" STRIDELOG_API void Stridelog_SetConfirmHandler(Stridelog_ConfirmFn fn, void* context) {
    if (fn == nullptr) {
        stridelog::ui::set_confirm_handler(nullptr);
        return;
    }
    stridelog::ui::set_confirm_handler([fn, context](const std::string& title,
                                                     const std::string& message,
                                                     const std::vector<std::string>& lines) {
        std::vector<const char*> pointers;
        pointers.reserve(lines.size());
        for (const std::string& line : lines) pointers.push_back(line.c_str());
        return fn(context, title.c_str(), message.c_str(), pointers.data(), pointers.size());
    });
}
