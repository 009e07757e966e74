#pragma once

// The few Windows declarations the product files in the native fuzz build use, so those files
// compile unchanged on Linux. Only what the targets reach does real work (stand-in/windows.cpp).
#include <cstddef>
#include <cstdint>

using DWORD = std::uint32_t;

inline constexpr unsigned CP_UTF8 = 65001;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;

int WideCharToMultiByte(unsigned codePage, DWORD flags, const wchar_t* text, int length, char* bytes,
                        int room, const char* defaultChar, int* usedDefaultChar);
int MultiByteToWideChar(unsigned codePage, DWORD flags, const char* bytes, int length, wchar_t* text,
                        int room);
DWORD CharLowerBuffW(wchar_t* text, DWORD length);
DWORD GetLastError();
void* SecureZeroMemory(void* bytes, std::size_t count);
