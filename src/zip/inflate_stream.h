#pragma once

// Inflating a deflate stream that arrives in pieces, into a bounded amount of output: the store's
// chunks (raw deflate) and its indexes (zlib).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace launcher {

enum class DeflateFraming { raw, zlib };

class InflateStream {
public:
    // Every failure throws Error(`failure`): corrupt data, more output than `maxOutput`, input
    // after the end of the stream, or a stream that has not ended when finish() is called.
    InflateStream(DeflateFraming framing, std::uint64_t maxOutput, const char* failure);
    ~InflateStream();
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    // Inflates the next piece of input; each piece of output goes to `output` (up to 64 KiB).
    void feed(const std::uint8_t* bytes, std::size_t size,
              const std::function<void(const std::uint8_t*, std::size_t)>& output);

    // Requires the stream to have ended; returns the number of bytes it inflated to.
    std::uint64_t finish() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    std::uint64_t maxOutput_;
    std::uint64_t produced_ = 0;
    bool ended_ = false;
    const char* failure_;
};

// The whole of `input` inflated at once. Throws Error(`failure`) as InflateStream does.
std::string inflateAll(std::string_view input, DeflateFraming framing, std::uint64_t maxOutput,
                       const char* failure);

} // namespace launcher
