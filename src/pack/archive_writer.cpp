#include "pack/archive_writer.h"

#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "foundation/unique_name.h"
#include "pack/archive_output.h"
#include "pack/compression_queue.h"

#include <algorithm>
#include <thread>

namespace launcher {

ArchiveSummary writeClientArchive(const std::vector<PackEntry>& entries, const std::filesystem::path& target,
                                  unsigned threads, CancelToken& token, const ArchiveProgress& progress) {
    threads = std::max(1u, threads);
    ArchiveOutput output(target);
    CompressionQueue queue(
        entries, target.native() + L".spill-" + multiByteToUtf16(newUniqueHexName(), codePageUtf8) + L"-",
        2 * threads + 2, token);
    std::vector<std::jthread> workers;
    const ScopeExit stopWorkers([&] {
        queue.stop();
        workers.clear(); // joins
    });
    for (unsigned index = 0; index < threads; ++index)
        workers.emplace_back([&queue] { queue.work(); });

    std::uint64_t filesDone = 0;
    const auto report = [&] {
        if (progress) progress(filesDone, queue.bytesRead());
    };
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const PackEntry& entry = entries[index];
        output.addEntry(entry, queue.take(index, report), token);
        if (!entry.directory) ++filesDone;
    }
    report();
    return output.finish();
}

} // namespace launcher
