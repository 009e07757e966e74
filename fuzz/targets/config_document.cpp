// Reads a configuration file beside the launcher as start-up does: parsed, completed and upgraded
// against the built-in document, then held to the document's rules (platform, login address,
// package address, digest, size limits). A document read once and written back must read the
// same way again, or the launcher would rewrite the file at every start.
#include "config/config_upgrade.h"
#include "config/document_rules.h"
#include "foundation/error.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace {

using nlohmann::json;

json builtInDocument() {
    std::ifstream file(GATEHOUSE_BUILTIN_CONFIG);
    std::stringstream text;
    text << file.rdbuf();
    return json::parse(text.str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const json builtIn = builtInDocument();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        bool upgraded = false;
        const json document = launcher::readConfigDocument(bytes, builtIn, upgraded);
        bool upgradedAgain = false;
        if (launcher::readConfigDocument(document.dump(), builtIn, upgradedAgain) != document ||
            upgradedAgain)
            std::abort();
        launcher::validateConfigDocument(document);
    } catch (const launcher::Error& error) {
        if (*error.what() == '\0') std::abort();
    } catch (const json::exception&) {
        // Not JSON, or a member of the wrong type: start-up reports the file as invalid.
    }
    return 0;
}
