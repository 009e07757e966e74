// The stand-in game's UnityPlayer.dll: present so the client looks complete, and loadable.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
