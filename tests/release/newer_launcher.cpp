// Stands for a launcher that has replaced itself with a newer build through its update channel:
// only its file version (99.0.0.0, newer than any release) matters to the installer test.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
