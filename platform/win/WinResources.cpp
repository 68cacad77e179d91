#include "WinResources.h"

// No module carries string tables yet; every lookup finds nothing and leaves an empty text.

int LoadStringW(HINSTANCE, UINT, wchar_t* buffer, int bufferMax) {
    if (buffer && bufferMax > 0)
        buffer[0] = 0;
    return 0;
}

int LoadStringA(HINSTANCE, UINT, char* buffer, int bufferMax) {
    if (buffer && bufferMax > 0)
        buffer[0] = 0;
    return 0;
}
