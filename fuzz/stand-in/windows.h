#pragma once

// The few Windows declarations the product files in the native fuzz build use, so those files
// compile unchanged on Linux. Only what the targets reach does real work (stand-in/windows.cpp).
#include <cstddef>
#include <cstdint>

using DWORD = std::uint32_t;
using BOOL = int;
using UCHAR = unsigned char;
using ULONG = std::uint32_t;
using HANDLE = void*;
using HGLOBAL = void*;
using HGDIOBJ = void*;
struct HKEY__;
using HKEY = HKEY__*;
struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
struct HDC__;
using HDC = HDC__*;
struct HFONT__;
using HFONT = HFONT__*;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;
struct HBITMAP__;
using HBITMAP = HBITMAP__*;
struct HRGN__;
using HRGN = HRGN__*;
struct HWINEVENTHOOK__;
using HWINEVENTHOOK = HWINEVENTHOOK__*;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

inline constexpr unsigned CP_UTF8 = 65001;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;

int WideCharToMultiByte(unsigned codePage, DWORD flags, const wchar_t* text, int length, char* bytes,
                        int room, const char* defaultChar, int* usedDefaultChar);
int MultiByteToWideChar(unsigned codePage, DWORD flags, const char* bytes, int length, wchar_t* text,
                        int room);
DWORD CharLowerBuffW(wchar_t* text, DWORD length);
DWORD GetLastError();
void SetLastError(DWORD error);

// What foundation/unique_handle.h closes handles with. Declared only: no target opens such a handle.
BOOL CloseHandle(HANDLE handle);
BOOL ReleaseMutex(HANDLE mutex);
BOOL FindClose(HANDLE find);
BOOL DeleteObject(HGDIOBJ object);
BOOL DeleteDC(HDC dc);
long RegCloseKey(HKEY key);
BOOL FreeLibrary(HMODULE module);
void* LocalFree(void* memory);
HGLOBAL GlobalFree(HGLOBAL memory);
void* SecureZeroMemory(void* bytes, std::size_t count);
BOOL UnhookWinEvent(HWINEVENTHOOK hook);
