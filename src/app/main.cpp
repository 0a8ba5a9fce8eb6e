// VantorOvix.exe entry point. Start-up, the window and the engine thread come
// with their own modules; until then the program starts and exits cleanly so
// that the Windows build and its run under wine are exercised.

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
