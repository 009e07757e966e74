#pragma once

// Installing the client from its content store: the index the configuration's clientPackage names
// says which chunks each file is made of; only those that neither the installed client nor the
// chunk cache holds are fetched, as byte ranges of the store's packs on several connections.
#include "config/launcher_config.h"
#include "foundation/cancel_token.h"
#include "foundation/progress.h"
#include "install/client_install.h"
#include "install/install_transaction.h"

#include <filesystem>

namespace launcher {

// Builds the client the index describes in `install`'s staging directory and completes the
// install. False, with nothing written but the staging directory's content, when the store cannot
// be used (the index cannot be fetched, has another size or digest, cannot be read, or belongs to
// another package): the caller then installs the full package. Throws Error with the player's
// sentence (a chunk that fails its digest: the package digest sentence), Canceled, or the
// platform's filesystem_error.
bool installFromStore(InstallTransaction& install, const LauncherConfig& config, CancelToken& token,
                      const ProgressCallback& progress, const InstallOptions& options);

// Where a store install into `installDirectory` keeps its verified chunks by default: a folder of
// its own below %LOCALAPPDATA%\K3Gatehouse\Chunks. Empty when the platform names no such folder.
std::filesystem::path defaultChunkCache(const std::filesystem::path& installDirectory);

} // namespace launcher
