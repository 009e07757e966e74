#include "pack/deployment_verify.h"

#include "config/config_validation.h"
#include "config/deployment.h"
#include "config/endpoint_rules.h"
#include "config/url_parts.h"
#include "foundation/error.h"
#include "foundation/file_io.h"
#include "foundation/text.h"
#include "install/client_install.h"
#include "net/http_transfer.h"
#include "net/package_digest.h"
#include "net/sha256_hash.h"
#include "pack/store_verify.h"
#include "pack/tool_config.h"
#include "pack/tool_refusal.h"
#include "update/launcher_replacement.h"
#include "update/signed_manifest.h"
#include "update/update_channel.h"
#include "update/update_manifest.h"
#include "update/update_signature.h"

#include <windows.h>

#include <algorithm>
#include <charconv>

namespace launcher {
namespace {

using nlohmann::json;
using Outcome = VerifyFinding::Outcome;

constexpr std::uint64_t maxSignatureBytes = 1024;
constexpr std::uint64_t maxKeyFileBytes = 4096;
// A new manifest must reach players within minutes; a package never changes under its address.
constexpr std::uint64_t longestManifestCacheSeconds = 300;
constexpr std::uint64_t shortestPackageCacheSeconds = 86400;

std::string utf8(std::wstring_view text) {
    return utf16ToUtf8(text);
}

std::wstring utf16(std::string_view text) {
    return multiByteToUtf16(text, codePageUtf8);
}

// What one fetch came to: the servers' answers, the bytes that reached the sink, and the engine's
// sentence when it did not complete.
struct Transfer {
    HttpExchangeRecord record;
    std::uint64_t received = 0;
    std::optional<std::string> failure;

    bool answered200() const { return !record.hops.empty() && record.hops.back().status == 200; }
};

Transfer transfer(HttpRequest request, CancelToken& token, const ChunkSink& sink,
                  const ProgressCallback& progress) {
    Transfer result;
    request.record = &result.record;
    try {
        httpTransfer(
            request, token,
            [&](const std::uint8_t* bytes, std::uint32_t count) {
                result.received += count;
                sink(bytes, count);
            },
            progress);
    } catch (const Canceled&) {
        throw;
    } catch (const Error& error) {
        result.failure = error.what();
    }
    return result;
}

// The endpoint rule an address broke, in the operator's terms.
std::string endpointRule(const HttpRequest& request) {
    if (request.httpsOnly) return "HTTPS on every hop, since no digest vouches for the bytes";
    const std::string packagePath = "http://" + std::string(packageHostUtf8) + utf8(packagePathPrefix);
    if (request.updateChannel) return "HTTPS, or plain HTTP under " + packagePath;
    return "HTTPS, or plain HTTP under " + packagePath + " ending in .zip";
}

bool contactable(const HttpRequest& request, const std::wstring& url) {
    const EndpointPurpose purpose =
        request.updateChannel ? EndpointPurpose::update : EndpointPurpose::download;
    return isAllowedEndpoint(url, purpose) && (!request.httpsOnly || crackUrl(url).secure);
}

// Each answer in order ("HTTP 302; redirected to URL: HTTP 200"), then why the transfer stopped
// when no status says it: an address the launcher does not contact, no answer, or a body that
// went wrong (unless `bodyApart`: reported by a check of its own).
std::string answersOf(const Transfer& got, const HttpRequest& request, bool bodyApart = false) {
    std::string text;
    const auto& hops = got.record.hops;
    for (std::size_t index = 0; index < hops.size(); ++index) {
        if (index > 0) text += "; redirected to " + utf8(hops[index].url);
        if (hops[index].status != 0)
            text += (index > 0 ? ": HTTP " : "HTTP ") + std::to_string(hops[index].status);
    }
    // A refusal status says it all; a redirect that leads nowhere (no Location, too many) does not.
    const std::uint32_t last = hops.empty() ? 0 : hops.back().status;
    const bool statusSaysIt = last != 0 && (last / 100 != 3) && (last != 200 || bodyApart);
    if (!got.failure || statusSaysIt) return text;
    if (!hops.empty() && hops.back().status == 0 && !contactable(request, hops.back().url))
        return text + (text.empty() ? "" : ", ") + "not contacted: the launcher contacts only " +
               endpointRule(request);
    return text + (text.empty() ? "" : " ") + "(" + *got.failure + ")";
}

// The Cache-Control directives that decide how long a cache keeps an answer.
struct CacheDirectives {
    bool present = false;
    bool revalidated = false; // no-cache or no-store
    bool immutable = false;
    std::optional<std::uint64_t> maxAge; // s-maxage when given: CDNs follow it
};

CacheDirectives readCacheControl(std::wstring_view header) {
    CacheDirectives directives;
    const std::wstring text = toLowerCase(header);
    directives.present = !trimWhitespace(text).empty();
    std::optional<std::uint64_t> maxAge, sharedMaxAge;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(L',', start), text.size());
        const std::wstring item = trimWhitespace(std::wstring_view(text).substr(start, end - start));
        start = end + 1;
        const std::size_t equals = std::min(item.find(L'='), item.size());
        const std::wstring name = trimWhitespace(std::wstring_view(item).substr(0, equals));
        std::string value =
            utf8(trimWhitespace(std::wstring_view(item).substr(std::min(equals + 1, item.size()))));
        value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
        std::uint64_t seconds = 0;
        const bool number =
            !value.empty() && std::from_chars(value.data(), value.data() + value.size(), seconds).ptr ==
                                  value.data() + value.size();
        if (name == L"no-cache" || name == L"no-store") directives.revalidated = true;
        if (name == L"immutable") directives.immutable = true;
        if (name == L"max-age" && number) maxAge = seconds;
        if (name == L"s-maxage" && number) sharedMaxAge = seconds;
    }
    directives.maxAge = sharedMaxAge ? sharedMaxAge : maxAge;
    return directives;
}

std::string cacheText(const std::wstring& header) {
    return header.empty() ? "no Cache-Control header (caches choose how long to keep it)"
                          : "Cache-Control: " + utf8(header);
}

// Collects the findings in order and hands each to the report as it is made.
class Findings {
public:
    explicit Findings(const FindingReport& report) : report_(report) {}

    void add(Outcome outcome, std::string check, std::string subject, std::string expected,
             std::string actual) {
        all_.push_back(
            {outcome, std::move(check), std::move(subject), std::move(expected), std::move(actual)});
        if (report_) report_(all_.back());
    }
    // Adds a finding that passes when `passed`, else has `otherwise` as its outcome.
    bool judge(bool passed, std::string check, std::string subject, std::string expected, std::string actual,
               Outcome otherwise = Outcome::failure) {
        add(passed ? Outcome::ok : otherwise, std::move(check), std::move(subject), std::move(expected),
            std::move(actual));
        return passed;
    }
    std::vector<VerifyFinding> take() { return std::move(all_); }

private:
    const FindingReport& report_;
    std::vector<VerifyFinding> all_;
};

// A manifest kept by a cache for longer than a few minutes reaches players late, and, served as
// two files, pairs with a signature of another version: launchers ignore both until it expires.
void judgeManifestCache(Findings& findings, const std::string& check, const std::string& subject,
                        const std::wstring& header) {
    const CacheDirectives cache = readCacheControl(header);
    const bool brief = cache.revalidated ||
                       (cache.maxAge && *cache.maxAge <= longestManifestCacheSeconds && !cache.immutable);
    findings.judge(cache.present && brief, check, subject,
                   "no-cache, or max-age of at most " + std::to_string(longestManifestCacheSeconds) + " s",
                   cacheText(header), Outcome::warning);
}

// Packages and launcher builds never change under their address, so caches may keep them for good.
void judgePackageCache(Findings& findings, const std::string& check, const std::string& subject,
                       const std::wstring& header) {
    const CacheDirectives cache = readCacheControl(header);
    const bool lasting = !cache.revalidated &&
                         (cache.immutable || (cache.maxAge && *cache.maxAge >= shortestPackageCacheSeconds));
    findings.judge(lasting, check, subject,
                   "immutable, or max-age of at least " + std::to_string(shortestPackageCacheSeconds) + " s",
                   cacheText(header), Outcome::warning);
}

struct Context {
    const VerifyRequest& request;
    std::int64_t now;
    CancelToken& token;
    const ProgressCallback& progress;
    Findings& findings;
};

// A download checked as the launcher takes it: it answers 200, its body has the size announced and
// fits the limit, its digest is the one named; and how long caches may keep it.
void checkDownload(Context& context, const std::string& kind, const HttpRequest& request,
                   const std::string& digest, const std::string& limitName) {
    Findings& findings = context.findings;
    const std::string subject = utf8(request.url);
    const std::wstring status = kind == "launcher" ? L"正在下载启动器" : L"正在下载客户端安装包";
    Sha256Hash hash;
    const Transfer got = transfer(
        request, context.token,
        [&](const std::uint8_t* bytes, std::uint32_t count) { hash.update(bytes, count); },
        [&](const std::wstring&, std::uint64_t done, std::uint64_t total) {
            if (context.progress) context.progress(status, done, total);
        });
    if (!findings.judge(got.answered200(), kind + ".address", subject, "HTTP 200",
                        answersOf(got, request, true)))
        return;

    const auto& announced = got.record.announcedBytes;
    findings.judge(!got.failure, kind + ".size", subject,
                   (announced ? std::to_string(*announced) + " bytes as announced (Content-Length), " : "") +
                       "at most " + std::to_string(request.maxBytes) + " bytes (" + limitName + ")",
                   std::to_string(got.received) + " bytes" + (got.failure ? " (" + *got.failure + ")" : ""));
    if (!got.failure) {
        const std::string computed = hash.finishHex();
        if (digest.empty())
            findings.add(Outcome::warning, kind + ".sha256", subject,
                         "a digest (without one only HTTPS vouches for the bytes)", computed);
        else
            findings.judge(packageDigestMatches(digest, computed), kind + ".sha256", subject,
                           utf8(toLowerCase(utf16(digest))), utf8(toLowerCase(utf16(computed))));
    }
    judgePackageCache(findings, kind + ".cache", subject, got.record.cacheControl);
}

void checkClientPackage(Context& context, const LauncherConfig& config) {
    const json& package = config.document.at("clientPackage");
    checkDownload(context, "package", clientPackageRequest(package), package.value("sha256", std::string()),
                  "clientPackage.maxDownloadBytes");
}

std::string counted(std::int64_t count, const char* unit) {
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

std::string whenText(std::int64_t expires, std::int64_t now) {
    const std::int64_t seconds = expires > now ? expires - now : now - expires;
    const std::string span = seconds >= 2 * 86400 ? counted(seconds / 86400, "day")
                             : seconds >= 3600    ? counted(seconds / 3600, "hour")
                                                  : counted(seconds / 60, "minute");
    return formatUtcTime(expires) + (expires > now ? " (in " + span + ")" : " (" + span + " ago)");
}

// Expiry, sequence and client package: what the launcher judges besides the signature.
void judgeManifest(Context& context, const std::string& subject, const UpdateManifest& manifest,
                   const LauncherConfig& config) {
    Findings& findings = context.findings;
    // The launcher ignores an expired manifest; one about to expire needs renewing now.
    const Outcome expiry = manifest.expires <= context.now                          ? Outcome::failure
                           : manifest.expires - context.now <= expiryWarningSeconds ? Outcome::warning
                                                                                    : Outcome::ok;
    findings.add(expiry, "manifest.expiry", subject, "more than 7 days ahead (renew it before it expires)",
                 whenText(manifest.expires, context.now));
    const std::optional<std::uint64_t>& previous = context.request.previousSequence;
    findings.judge(!previous || manifest.sequence >= *previous, "manifest.sequence", subject,
                   previous ? "at least " + std::to_string(*previous) + " (--previous-sequence)"
                            : "any (no --previous-sequence given)",
                   std::to_string(manifest.sequence));

    LauncherConfig applied;
    try {
        applied = configWithClientPackage(config, manifest.clientPackage);
    } catch (const Error& error) {
        findings.add(Outcome::failure, "manifest.clientPackage", subject,
                     "accepted by the configuration's rules", error.what());
        return;
    }
    findings.add(Outcome::ok, "manifest.clientPackage", subject, "accepted by the configuration's rules",
                 "version " + applied.document["clientPackage"].value("version", std::string()));
    checkClientPackage(context, applied);
    verifyStore(applied.document.at("clientPackage"), context.token, [&](VerifyFinding finding) {
        context.findings.add(finding.outcome, std::move(finding.check), std::move(finding.subject),
                             std::move(finding.expected), std::move(finding.actual));
    });
    if (manifest.launcher)
        checkDownload(context, "launcher", launcherReleaseRequest(*manifest.launcher),
                      manifest.launcher->sha256, "the launcher's limit for its builds");
}

// A small file of the update channel (the manifest or its signature), fetched as the launcher's
// update check fetches it. Nothing when it could not be fetched whole.
std::optional<std::string> fetchChannelFile(Context& context, const std::string& kind,
                                            const std::wstring& url, std::uint64_t maxBytes,
                                            ULONGLONG deadline) {
    HttpRequest request;
    request.url = url;
    request.maxBytes = maxBytes;
    request.updateChannel = true;
    request.deadline = deadline;
    std::string body;
    const Transfer got = transfer(request, context.token,
                                  [&](const std::uint8_t* bytes, std::uint32_t count) {
                                      body.append(reinterpret_cast<const char*>(bytes), count);
                                  },
                                  {});
    if (!context.findings.judge(!got.failure, kind + ".address", utf8(url), "HTTP 200",
                                answersOf(got, request)))
        return std::nullopt;
    judgeManifestCache(context.findings, kind + ".cache", utf8(url), got.record.cacheControl);
    return body;
}

void checkManifest(Context& context, const std::string& publicKey, const LauncherConfig& config) {
    Findings& findings = context.findings;
    const std::wstring url = utf16(*context.request.manifestUrl);
    const std::string subject = utf8(url);
    // The launcher gives the manifest and its signature this long together.
    const ULONGLONG deadline =
        ::GetTickCount64() + static_cast<ULONGLONG>(UpdateChannel{}.checkLimit.count());
    const auto body =
        fetchChannelFile(context, "manifest", url, maxUpdateManifestBytes + maxSignatureBytes + 1, deadline);
    if (!body) return;
    std::optional<SignedManifest> parts;
    std::string form = "one signed file";
    if (isBareManifest(*body)) {
        const std::wstring signatureUrl = signatureAddressBeside(url);
        const auto signature =
            fetchChannelFile(context, "signature", signatureUrl, maxSignatureBytes, deadline);
        if (!signature) return;
        parts = SignedManifest{*body, *signature};
        form = "signature at " + utf8(signatureUrl);
    } else {
        try {
            parts = splitManifestEnvelope(*body);
        } catch (const Error& error) {
            findings.add(Outcome::failure, "manifest.document", subject,
                         "a signed manifest file: the signature's line, then the manifest", error.what());
            return;
        }
    }
    const bool verifies = isSignedBy(*parts, publicKey);
    findings.judge(verifies, "manifest.signature", subject, "signed by key " + publicKey.substr(0, 16) + "…",
                   verifies ? "verifies (" + form + ")"
                            : "does not verify (" + form +
                                  "): another key signed it, or it changed after signing");
    UpdateManifest manifest;
    try {
        manifest = parseUpdateManifest(parts->bytes);
    } catch (const Error& error) {
        findings.add(Outcome::failure, "manifest.document", subject,
                     "a manifest of at most " + std::to_string(maxUpdateManifestBytes) + " bytes",
                     error.what());
        return;
    }
    judgeManifest(context, subject, manifest, config);
}

std::string publicKeyOf(const VerifyRequest& request) {
    if (!request.keyFile) return request.publicKeyHex;
    const std::filesystem::path& file = *request.keyFile;
    const auto refuse = [&](const std::string& actual) {
        return ToolRefusal(
            "更新签名密钥文件无效。",
            {.rule = "key-file",
             .kind = RefusalSubject::file,
             .subject = shownPath(file),
             .expected = "a key file as keygen writes it, with a publicKey of 128 hexadecimal digits",
             .actual = actual});
    };
    json document;
    try {
        document = json::parse(readFileLimited(file, maxKeyFileBytes));
    } catch (...) {
        rethrowNamingFile(file, "key-file", "更新签名密钥文件无效。",
                          "a key file as keygen writes it, with a publicKey of 128 hexadecimal digits");
    }
    const json key = document.is_object() ? document.value("publicKey", json()) : json();
    if (!key.is_string()) throw refuse("no text member publicKey");
    if (!isPublicKeyHex(key.get<std::string>())) throw refuse("publicKey " + key.dump());
    return key.get<std::string>();
}

} // namespace

bool isPublicKeyHex(std::string_view text) {
    return text.size() == 128 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

std::vector<VerifyFinding> verifyDeployment(const VerifyRequest& request,
                                            const std::filesystem::path& toolDirectory, std::int64_t now,
                                            CancelToken& token, const ProgressCallback& progress,
                                            const FindingReport& report) {
    const std::string publicKey = request.manifestUrl ? publicKeyOf(request) : std::string();
    const ToolConfig config = loadToolConfig(request.configFile, toolDirectory);
    Findings findings(report);
    Context context{request, now, token, progress, findings};
    bool configValid = true;
    if (request.configFile) {
        std::string actual = "accepted";
        try {
            validateLauncherConfig(config.effective);
        } catch (const std::exception& error) {
            actual = error.what();
            configValid = false;
        }
        findings.judge(configValid, "config.rules", utf8(config.file.native()),
                       "accepted by the launcher's configuration rules", actual);
    }
    if (request.manifestUrl)
        checkManifest(context, publicKey, config.effective);
    else if (configValid)
        checkClientPackage(context, config.effective);
    return findings.take();
}

bool anyFailure(const std::vector<VerifyFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const VerifyFinding& finding) { return finding.outcome == Outcome::failure; });
}

} // namespace launcher
