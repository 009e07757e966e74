#include "config/deployment.h"

#include <string>

namespace launcher {

std::string legacyLoginProxyUrl() {
    return "http://" + std::string(lanLoginHostUtf8) + ":9915/api/GameLoginLog/GetUidTalvo";
}

std::string legacyPackageUrl() {
    return "http://" + std::string(packageHostUtf8) + "/K3ClientRes/exe/TalvoPC/2026-11-09/TalvoPC.zip";
}

} // namespace launcher
