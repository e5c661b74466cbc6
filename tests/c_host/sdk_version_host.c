/* The README's C host, compiled as C against the shared library: proves the
 * public header is plain C and the helpers are enough to run a host. */
#include <stdio.h>
#include <stridelog/stridelog.h>

static int done;

static LRESULT on_message(void* ctx, HWND w, UINT msg, WPARAM code, LPARAM block) {
    (void)ctx;
    (void)w;
    if (msg == Stridelog_ResultMessageId() && code == SDK_MSG_SDK_VERSION) {
        printf("%.*s\n", (int)Stridelog_BlockSize((void*)block), (const char*)block);
        Stridelog_FreeBlock((void*)block); /* the host owns every block it receives */
        done = 1;
    }
    return 0;
}

static int finished(void* ctx) {
    (void)ctx;
    return done;
}

int main(void) {
    HWND host = Stridelog_CreateHostWindow(on_message, NULL);
    GetSDKVersion(host);                      /* posts SDK_MSG_SDK_VERSION */
    Stridelog_RunUntil(finished, NULL, 1000); /* pump messages until it arrives */
    Stridelog_DestroyHostWindow(host);
    return done ? 0 : 1;
}
