#include "zip/inflate_stream.h"

#include "foundation/error.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>

namespace launcher {

struct InflateStream::State {
    z_stream stream{};
    std::array<std::uint8_t, 65536> buffer{};
};

InflateStream::InflateStream(DeflateFraming framing, std::uint64_t maxOutput, const char* failure)
    : state_(std::make_unique<State>()), maxOutput_(maxOutput), failure_(failure) {
    const int windowBits = framing == DeflateFraming::raw ? -MAX_WBITS : MAX_WBITS;
    if (inflateInit2(&state_->stream, windowBits) != Z_OK) throw Error(failure_);
}

InflateStream::~InflateStream() {
    inflateEnd(&state_->stream);
}

void InflateStream::feed(const std::uint8_t* bytes, std::size_t size,
                         const std::function<void(const std::uint8_t*, std::size_t)>& output) {
    z_stream& stream = state_->stream;
    while (size > 0) {
        if (ended_) throw Error(failure_); // bytes after the end: not the stream the index describes
        const uInt piece = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
        stream.next_in = const_cast<Bytef*>(bytes);
        stream.avail_in = piece;
        do {
            stream.next_out = state_->buffer.data();
            stream.avail_out = static_cast<uInt>(state_->buffer.size());
            const int result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) throw Error(failure_);
            const std::size_t made = state_->buffer.size() - stream.avail_out;
            if (made > maxOutput_ - produced_) throw Error(failure_);
            produced_ += made;
            if (made > 0) output(state_->buffer.data(), made);
            if (result == Z_STREAM_END) {
                ended_ = true;
                break;
            }
            if (result == Z_BUF_ERROR && made == 0) break; // wants more input
        } while (stream.avail_in > 0 || stream.avail_out == 0);
        if (ended_ && stream.avail_in > 0) throw Error(failure_);
        const std::size_t used = piece - stream.avail_in;
        bytes += used;
        size -= used;
    }
}

std::uint64_t InflateStream::finish() const {
    if (!ended_) throw Error(failure_);
    return produced_;
}

std::string inflateAll(std::string_view input, DeflateFraming framing, std::uint64_t maxOutput,
                       const char* failure) {
    std::string result;
    InflateStream stream(framing, maxOutput, failure);
    stream.feed(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(),
                [&](const std::uint8_t* bytes, std::size_t size) {
                    result.append(reinterpret_cast<const char*>(bytes), size);
                });
    stream.finish();
    return result;
}

} // namespace launcher
