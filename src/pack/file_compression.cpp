#include "pack/file_compression.h"

#include "foundation/error.h"
#include "pack/client_file_io.h"
#include "pack/deflate_policy.h"

#include <memory>
#include <new>
#include <tuple>

namespace launcher {

FileCompressor::FileCompressor() {
    if (deflateInit2(&stream_, deflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
}

FileCompressor::~FileCompressor() {
    deflateEnd(&stream_);
}

z_stream& FileCompressor::resetStream() {
    deflateReset(&stream_);
    return stream_;
}

CompressedFile FileCompressor::compress(const PackEntry& entry, const std::wstring& spillPath,
                                        const CancelToken& token, std::atomic<std::uint64_t>& bytesRead) {
    if (entry.directory) return {};
    if (entry.size <= inMemoryLimit) return compressInMemory(entry, bytesRead);
    return compressLarge(entry, spillPath, token, bytesRead);
}

CompressedFile FileCompressor::compressInMemory(const PackEntry& entry,
                                                std::atomic<std::uint64_t>& bytesRead) {
    const UniqueFile file = openClientFile(entry.source);
    const std::size_t size = static_cast<std::size_t>(entry.size);
    // Room for one byte more tells a file that grew since the folder was read, in the same read.
    input_.resize(size + 1);
    if (readSome(file.get(), input_.data(), size + 1, entry.source) != size)
        throwClientFileChanged(entry.source);
    bytesRead += size;
    CompressedFile result;
    const Bytef* input = reinterpret_cast<const Bytef*>(input_.data());
    result.crc = crc32_z(0, input, size);

    z_stream& stream = resetStream();
    std::string output(deflateBound(&stream, static_cast<uLong>(size)), '\0');
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = static_cast<uInt>(output.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw Error("压缩客户端文件失败。");
    output.resize(stream.total_out);
    result.deflated = deflatePays(size, output.size());
    result.bytes = result.deflated ? std::move(output) : input_.substr(0, size);
    result.compressedSize = result.bytes.size();
    return result;
}

// Deflates the whole source and returns its CRC-32 and deflated size. The deflated bytes go to
// `spill` while they may be needed; once they are not worth keeping, `spill` is given up (set to
// nullptr) rather than filled with bytes nobody reads.
std::pair<std::uint32_t, std::uint64_t> FileCompressor::deflateSource(HANDLE file, const PackEntry& entry,
                                                                      HANDLE& spill, const CancelToken& token,
                                                                      std::atomic<std::uint64_t>* bytesRead) {
    const auto input = std::make_unique<char[]>(packChunkBytes);
    const auto output = std::make_unique<char[]>(packChunkBytes);
    z_stream& stream = resetStream();
    uLong crc = crc32_z(0, nullptr, 0);
    std::uint64_t total = 0;
    readClientFileChunks(file, entry, input.get(), token, [&](char* bytes, std::size_t read, bool last) {
        total += read;
        if (bytesRead != nullptr) *bytesRead += read;
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(bytes), read);
        stream.next_in = reinterpret_cast<Bytef*>(bytes);
        stream.avail_in = static_cast<uInt>(read);
        int status = Z_OK;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(output.get());
            stream.avail_out = static_cast<uInt>(packChunkBytes);
            status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR) throw Error("压缩客户端文件失败。");
            if (spill != nullptr) writeAll(spill, output.get(), packChunkBytes - stream.avail_out);
        } while (stream.avail_out == 0 || (last && status != Z_STREAM_END));
        if (!deflatedOutputWorthKeeping(total, stream.total_out)) spill = nullptr;
    });
    return {static_cast<std::uint32_t>(crc), stream.total_out};
}

// Deflates the samples of a large file and judges them by the policy.
bool FileCompressor::worthDeflating(HANDLE file, const PackEntry& entry) {
    constexpr std::uint64_t allSamples = 3 * deflateSampleBytes;
    input_.resize(allSamples);
    const auto offsets = deflateSampleOffsets(entry.size);
    for (std::size_t index = 0; index < offsets.size(); ++index) {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offsets[index]);
        char* sample = input_.data() + index * deflateSampleBytes;
        if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
            readSome(file, sample, deflateSampleBytes, entry.source) != deflateSampleBytes)
            throwClientFileChanged(entry.source);
    }
    z_stream& stream = resetStream();
    std::string output(deflateBound(&stream, allSamples), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(input_.data());
    stream.avail_in = allSamples;
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = static_cast<uInt>(output.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw Error("压缩客户端文件失败。");
    return samplesShrink(allSamples, stream.total_out);
}

CompressedFile FileCompressor::compressLarge(const PackEntry& entry, const std::wstring& spillPath,
                                             const CancelToken& token,
                                             std::atomic<std::uint64_t>& bytesRead) {
    const UniqueFile file = openClientFile(entry.source);
    CompressedFile result;
    if (!worthDeflating(file.get(), entry)) {
        // Stored: only its CRC-32 is needed now; the writer copies it from the source.
        const auto buffer = std::make_unique<char[]>(packChunkBytes);
        uLong crc = crc32_z(0, nullptr, 0);
        readClientFileChunks(file.get(), entry, buffer.get(), token,
                             [&](char* bytes, std::size_t read, bool) {
                                 crc = crc32_z(crc, reinterpret_cast<const Bytef*>(bytes), read);
                                 bytesRead += read;
                             });
        result.crc = static_cast<std::uint32_t>(crc);
        result.compressedSize = entry.size;
        return result;
    }
    UniqueFile spill{::CreateFileW(spillPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)};
    if (!spill) throw Error("无法创建临时文件，请检查磁盘空间和目录权限。");
    HANDLE kept = spill.get();
    std::tie(result.crc, result.compressedSize) = deflateSource(file.get(), entry, kept, token, &bytesRead);
    result.deflated = deflatePays(entry.size, result.compressedSize);
    // A stored file is copied from its source again when its turn comes; the spill goes at once.
    if (!result.deflated) {
        result.compressedSize = entry.size;
        return result;
    }
    if (kept == nullptr) {
        // Given up too early after all: deflate it once more, this time keeping every byte.
        ::SetFilePointerEx(spill.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN);
        ::SetEndOfFile(spill.get());
        kept = spill.get();
        const auto again = deflateSource(file.get(), entry, kept, token, nullptr);
        if (again.first != result.crc || kept == nullptr) throwClientFileChanged(entry.source);
    }
    result.spill = std::move(spill);
    return result;
}

} // namespace launcher
