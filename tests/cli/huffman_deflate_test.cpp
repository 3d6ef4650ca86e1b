// The literal-only zlib coder, read back by zlib and by libdeflate, and its
// size against zlib's own Huffman-only strategy.
#include "cli/images/huffman_deflate.h"
#include "tests/support/predicted_strip.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace velvetshade {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Compress(const Bytes& in, HuffmanCoder coder) {
    Bytes out(HuffmanZlibBound(in.size()));
    out.resize(HuffmanZlibCompress(in.data(), in.size(), out.data(), out.size(), coder));
    return out;
}

// The loop as written; the BMI2 loop, where it runs, gives the same bytes.
Bytes Compress(const Bytes& in) {
    Bytes plain = Compress(in, HuffmanCoder::kPlain);
    if (HuffmanCoderRuns(HuffmanCoder::kBmi2)) {
        EXPECT_TRUE(Compress(in, HuffmanCoder::kBmi2) == plain);
    }
    return plain;
}

// Both decoders give back exactly the input.
void ExpectRoundTrip(const Bytes& in, const Bytes& packed, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_FALSE(packed.empty());
    Bytes by_zlib(in.size() + 1);
    uLongf zlib_size = by_zlib.size();
    ASSERT_EQ(uncompress(by_zlib.data(), &zlib_size, packed.data(), packed.size()), Z_OK);
    by_zlib.resize(zlib_size);
    EXPECT_TRUE(by_zlib == in);

    Bytes by_libdeflate(in.size() + 1);
    std::size_t libdeflate_size = 0;
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    const libdeflate_result result = libdeflate_zlib_decompress(d, packed.data(), packed.size(), by_libdeflate.data(),
                                                                by_libdeflate.size(), &libdeflate_size);
    libdeflate_free_decompressor(d);
    ASSERT_EQ(result, LIBDEFLATE_SUCCESS);
    by_libdeflate.resize(libdeflate_size);
    EXPECT_TRUE(by_libdeflate == in);
}

std::size_t ZlibHuffmanOnlySize(const Bytes& in) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_HUFFMAN_ONLY), Z_OK);
    Bytes out(deflateBound(&z, in.size()));
    z.next_in = const_cast<Bytes::value_type*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    deflateEnd(&z);
    return z.total_out;
}

Bytes Random(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes b(size);
    for (auto& v : b) v = std::uint8_t(random());
    return b;
}

// Laplacian-ish residuals, as horizontal differencing leaves them.
Bytes Skewed(std::size_t size, double spread, unsigned seed) {
    std::mt19937 random(seed);
    std::exponential_distribution<double> magnitude(1.0 / spread);
    Bytes b(size);
    for (auto& v : b) {
        const int m = std::min(127, int(magnitude(random)));
        v = std::uint8_t(random() & 1 ? m : -m);
    }
    return b;
}

TEST(HuffmanDeflate, EdgeCasesRoundTripThroughZlibAndLibdeflate) {
    const Bytes empty;
    const Bytes one{42};
    const Bytes constant(300000, 7);
    Bytes every_value_equally(256 * 1000);
    for (std::size_t i = 0; i < every_value_equally.size(); ++i) every_value_equally[i] = std::uint8_t(i * 167);
    const Bytes random = Random(200000, 1);

    for (const auto& [in, name] : {std::pair{empty, "empty"}, std::pair{one, "one byte"}}) {
        const Bytes packed = Compress(in);
        ExpectRoundTrip(in, packed, name);
        EXPECT_LE(packed.size(), 2 + 5 + in.size() + 4) << name;  // a stored block at worst
    }
    // One value and the end of block: one bit a byte.
    const Bytes packed_constant = Compress(constant);
    ExpectRoundTrip(constant, packed_constant, "constant");
    EXPECT_LT(packed_constant.size(), constant.size() / 8 + 200);
    // Nothing to gain: stored, 5 bytes per 65535 at most.
    for (const auto& [in, name] : {std::pair{every_value_equally, "every value"}, std::pair{random, "random"}}) {
        const Bytes packed = Compress(in);
        ExpectRoundTrip(in, packed, name);
        EXPECT_LE(packed.size(), 2 + in.size() + 5 * (in.size() / 65535 + 3) + 4) << name;
    }
    // Too little room is refused, not overrun.
    Bytes small(HuffmanZlibBound(random.size()) - 1);
    EXPECT_EQ(HuffmanZlibCompress(random.data(), random.size(), small.data(), small.size()), 0u);
}

TEST(HuffmanDeflate, LongCodesAndBlockBoundariesRoundTrip) {
    // Fibonacci frequencies: an unlimited Huffman code would be 25 bits deep,
    // deflate allows 15.
    Bytes fibonacci;
    std::uint32_t a = 1, b = 1;
    for (int symbol = 0; symbol < 26; ++symbol) {
        fibonacci.insert(fibonacci.end(), a, std::uint8_t(symbol * 9));
        const std::uint32_t next = a + b;
        a = b;
        b = next;
    }
    std::shuffle(fibonacci.begin(), fibonacci.end(), std::mt19937(3));
    const Bytes packed_fibonacci = Compress(fibonacci);
    ExpectRoundTrip(fibonacci, packed_fibonacci, "fibonacci");
    // About 2 bits a byte; stored would be 8.
    EXPECT_LT(packed_fibonacci.size(), fibonacci.size() / 3);

    // Sizes around the block length and the stored-block limit, with
    // compressible and incompressible stretches in turn.
    for (const std::size_t size : {65535u, 65536u, 131071u, 131072u, 131073u, 3 * 65535u + 7, 1000003u}) {
        Bytes in = Skewed(size, 3.0, unsigned(size));
        const Bytes noise = Random(size / 3, 5);
        std::copy(noise.begin(), noise.end(), in.begin() + std::ptrdiff_t(size / 3));
        ExpectRoundTrip(in, Compress(in), "size " + std::to_string(size));
    }
}

TEST(HuffmanDeflate, PredictedStripsWithinOnePercentOfZlibHuffmanOnly) {
    for (const int bytes_per_sample : {1, 2}) {
        const Bytes strip = test::PredictedStrip(3840, 1000000 / (3840 * 3 * bytes_per_sample), bytes_per_sample, 7);
        const Bytes packed = Compress(strip);
        ExpectRoundTrip(strip, packed, std::to_string(bytes_per_sample * 8) + " bits");
        const std::size_t zlib_size = ZlibHuffmanOnlySize(strip);
        EXPECT_LE(double(packed.size()), 1.01 * double(zlib_size)) << bytes_per_sample * 8 << " bits";
        EXPECT_LT(packed.size(), strip.size() * 3 / 4) << bytes_per_sample * 8 << " bits";
    }
}

}  // namespace
}  // namespace velvetshade
