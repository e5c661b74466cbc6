// The README's C++ host, built against an installed tree through find_package.
#include <stridelog/stridelog.h>

#include <cstdio>

int main() {
    static bool done = false;
    HWND host = Stridelog_CreateHostWindow(
        [](void*, HWND, UINT msg, WPARAM code, LPARAM block) -> LRESULT {
            if (msg == Stridelog_ResultMessageId() && code == SDK_MSG_SDK_VERSION) {
                auto* text = reinterpret_cast<void*>(block);
                std::printf("%.*s\n", static_cast<int>(Stridelog_BlockSize(text)),
                            static_cast<const char*>(text));
                Stridelog_FreeBlock(text);
                done = true;
            }
            return 0;
        },
        nullptr);
    GetSDKVersion(host);
    Stridelog_RunUntil([](void*) { return done ? 1 : 0; }, nullptr, 1000);
    Stridelog_DestroyHostWindow(host);
    return done ? 0 : 1;
}
