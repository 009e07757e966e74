#include "net/package_digest.h"

#include "foundation/text.h"

namespace launcher {

bool packageDigestMatches(const std::string& configured, const std::string& computed) {
    return configured.empty() || toLowerCase(multiByteToUtf16(configured, codePageUtf8)) ==
                                     toLowerCase(multiByteToUtf16(computed, codePageUtf8));
}

} // namespace launcher
