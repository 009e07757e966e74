// Reads a login service reply as the launcher does once the bytes have arrived: parsed as JSON,
// then judged envelope by envelope. A reply either signs the player in with an identity the game
// may be started with, or fails with one of the login sentences.
#include "account/login_reply.h"
#include "foundation/error.h"
#include "foundation/text.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const nlohmann::json parsed = nlohmann::json::parse(reply, nullptr, false);
    if (parsed.is_discarded()) return 0; // the launcher's "格式异常" sentence, before any rule
    try {
        // What the launcher logs from every reply, success or not.
        launcher::memberText(parsed, "code");
        launcher::memberText(parsed, parsed.contains("message") ? "message" : "msg");

        const launcher::LoginResult result = launcher::parseLoginReply(parsed, L"1", 0);
        if (!launcher::hasUsableIdentity(result) || launcher::trimWhitespace(result.gameId).empty())
            std::abort();
        // Every accepted text goes on into the game's command line and the log as UTF-8.
        for (const std::wstring* text : {&result.userId, &result.token, &result.gameId, &result.userName})
            launcher::utf16ToUtf8(*text);
    } catch (const launcher::Error& error) {
        // A failure is always one of the player's sentences, never empty.
        if (*error.what() == '\0') std::abort();
    }
    return 0;
}
