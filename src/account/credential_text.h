#pragma once

// The plaintext that the remembered-credentials file protects: {"password":"…","username":"…"},
// compact, keys in that order, non-ASCII as raw UTF-8. Written and read here by hand so that the
// secret only ever lives in wiped buffers: a general JSON library keeps copies in buffers of its
// own (and in its error messages) that nobody overwrites.
#include "foundation/secret_text.h"

#include <string_view>

namespace launcher {

// The plaintext for a pair already in UTF-8, byte for byte what earlier releases wrote.
SecretText serializeCredentialText(std::string_view accountUtf8, std::string_view passwordUtf8);

// Reads a plaintext strictly as JSON: one object, anything else refused. "username" and
// "password" must be strings when present (an absent one reads as empty); other members are
// skipped; a repeated member counts as its last value. Returns false on anything else and then
// leaves the outputs empty.
bool parseCredentialText(std::string_view text, SecretText& accountUtf8, SecretText& passwordUtf8);

} // namespace launcher
