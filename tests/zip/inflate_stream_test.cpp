#include "support/test_support.h"
#include "zip/inflate_stream.h"

#include <gtest/gtest.h>

#include <zlib.h>

namespace launcher {
namespace {

using testing::failureOf;

const char* const damaged = "分块数据已损坏。";

std::string deflated(std::string_view text, DeflateFraming framing) {
    z_stream stream{};
    const int windowBits = framing == DeflateFraming::raw ? -MAX_WBITS : MAX_WBITS;
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Feeds `input` in pieces of `piece` bytes, as a download hands them over; returns the output.
std::string feedPieces(InflateStream& stream, std::string_view input, std::size_t piece) {
    std::string output;
    for (std::size_t at = 0; at < input.size(); at += piece)
        stream.feed(reinterpret_cast<const std::uint8_t*>(input.data()) + at,
                    std::min(piece, input.size() - at), [&](const std::uint8_t* bytes, std::size_t size) {
                        output.append(reinterpret_cast<const char*>(bytes), size);
                    });
    return output;
}

TEST(InflateStream, InflatesEitherFramingToExactlyItsBytes) {
    // Several 64 KiB pieces of output, some from bytes that do not compress.
    const std::string text = testing::patternBytes(200000) + std::string(300000, 'a');
    for (const DeflateFraming framing : {DeflateFraming::raw, DeflateFraming::zlib}) {
        const bool raw = framing == DeflateFraming::raw;
        InflateStream stream(framing, text.size(), damaged);
        const std::string output = feedPieces(stream, deflated(text, framing), 1000);
        EXPECT_EQ(stream.finish(), text.size()) << (raw ? "raw" : "zlib");
        EXPECT_TRUE(output == text) << (raw ? "raw" : "zlib") << ": " << output.size() << " bytes";
    }
}

TEST(InflateStream, RefusesWhatIsNotExactlyOneStreamWithinItsLimit) {
    const std::string text = testing::patternBytes(100000);
    const std::string stream = deflated(text, DeflateFraming::zlib);
    struct Case {
        const char* what;
        std::string input;
        std::uint64_t maxOutput;
        std::size_t piece;
        const char* refusedAt;
    };
    const Case cases[] = {
        {"more output than the maximum", stream, text.size() - 1, stream.size(), "feed"},
        {"a byte after the end", stream + "x", text.size(), stream.size() + 1, "feed"},
        {"a byte after the end, on its own", stream + "x", text.size(), stream.size(), "feed"},
        {"the last byte missing", stream.substr(0, stream.size() - 1), text.size(), stream.size(), "finish"},
    };
    for (const Case& c : cases) {
        InflateStream inflating(DeflateFraming::zlib, c.maxOutput, damaged);
        std::string where = "feed";
        std::string failure = failureOf([&] { feedPieces(inflating, c.input, c.piece); });
        if (failure == "<no error>") {
            where = "finish";
            failure = failureOf([&] { inflating.finish(); });
        }
        EXPECT_EQ(where + ": " + failure, c.refusedAt + std::string(": ") + damaged) << c.what;
    }
}

} // namespace
} // namespace launcher
