#pragma once

// The SHA-256 of Windows' cryptography provider (CNG), which the product's hashing calls: a
// stand-in that computes it (stand-in/bcrypt.cpp). Any other algorithm aborts; keys are declared
// only, as no target makes one.
#include <windows.h>

using NTSTATUS = long;
using BCRYPT_ALG_HANDLE = void*;
using BCRYPT_HASH_HANDLE = void*;
using BCRYPT_KEY_HANDLE = void*;

inline constexpr const wchar_t* BCRYPT_SHA256_ALGORITHM = L"SHA256";

inline constexpr bool BCRYPT_SUCCESS(NTSTATUS status) {
    return status >= 0;
}

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, const wchar_t* name,
                                     const wchar_t* implementation, ULONG flags);
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, UCHAR* object,
                          ULONG objectSize, UCHAR* secret, ULONG secretSize, ULONG flags);
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, UCHAR* bytes, ULONG size, ULONG flags);
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, UCHAR* digest, ULONG size, ULONG flags);
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS BCryptDestroyKey(BCRYPT_KEY_HANDLE key);
