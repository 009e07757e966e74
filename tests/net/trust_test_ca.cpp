// Adds the test CA to the current user's root store, so the HTTPS tests' loopback server is
// trusted. Test-only: under Wine this touches just the build tree's prefix.
#include "foundation/unique_handle.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

struct CertStoreTraits {
    using Handle = HCERTSTORE;
    static Handle none() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { ::CertCloseStore(h, 0); }
};

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: trust_test_ca CA.der\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<BYTE> der{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (der.empty()) {
        std::fputs("cannot read the CA certificate\n", stderr);
        return 1;
    }
    const launcher::Unique<CertStoreTraits> store{
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root")};
    if (!store || !::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()),
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        std::fprintf(stderr, "cannot trust the CA (error %lu)\n", ::GetLastError());
        return 1;
    }
    return 0;
}
