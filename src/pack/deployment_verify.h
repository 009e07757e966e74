#pragma once

// gatehouse-pack verify: a hosted deployment checked from outside before players meet it, every
// address fetched with the launcher's own transfer engine and the rules of the request a launcher
// makes for it (endpoints, HTTPS, redirects, time and size limits).
#include "foundation/cancel_token.h"
#include "foundation/progress.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

struct VerifyRequest {
    // The signed update manifest's address (UTF-8). Without it, the client package that the
    // configuration names is checked instead.
    std::optional<std::string> manifestUrl;
    std::string publicKeyHex;                        // the key the manifest must be signed with, or
    std::optional<std::filesystem::path> keyFile;    // a key file from keygen, whose public half is read
    std::optional<std::filesystem::path> configFile; // the site's launcher.config.json; else the built-in one
    std::optional<std::uint64_t> previousSequence;   // the manifest must not be numbered below it
};

// One check's result, in the terms of the rule it applies.
struct VerifyFinding {
    enum class Outcome { ok, warning, failure };
    Outcome outcome = Outcome::ok;
    std::string check;   // such as "package.sha256"
    std::string subject; // the address or file it concerns
    std::string expected;
    std::string actual;
};

using FindingReport = std::function<void(const VerifyFinding&)>;

// A manifest that expires sooner than this is reported with a warning.
inline constexpr std::int64_t expiryWarningSeconds = 7 * 86400;

// Checks the deployment as launchers judge it at `now` (seconds since 1970 UTC): the manifest
// and its signature (one signed file, or the manifest with "<address>.sig" beside it) answer 200,
// the signature verifies with the key, the manifest reads, has not expired (a warning within
// expiryWarningSeconds), is not numbered below `previousSequence`, and its client package passes
// the configuration's rules; the client package and any launcher build it offers answer 200 with
// the size announced and the digest named; the manifest's Cache-Control lets no cache keep it
// more than a few minutes and the packages' keep them long (warnings only). Downloads stream
// through a digest, never held whole; `progress` hears each. Each finding goes to `report` as it
// is made; all are returned. The configuration is `configFile` or the built-in one beside
// `toolDirectory`. Throws ToolRefusal for a key file or configuration file that cannot be read, or
// Canceled.
std::vector<VerifyFinding> verifyDeployment(const VerifyRequest& request,
                                            const std::filesystem::path& toolDirectory, std::int64_t now,
                                            CancelToken& token, const ProgressCallback& progress,
                                            const FindingReport& report);

// Whether `text` is a public key as keygen prints it: 128 hexadecimal digits. Pure.
bool isPublicKeyHex(std::string_view text);

// Whether any finding is a failure (the deployment is not ready), as opposed to warnings only.
bool anyFailure(const std::vector<VerifyFinding>& findings);

} // namespace launcher
