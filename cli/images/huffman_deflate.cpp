// Measured on this machine, ~1 MB strips of horizontal-predictor-differenced
// samples of a 4K photograph:
//   8-bit RGB:  libdeflate level 1  96 MB/s, 18.7 MB; zlib Z_HUFFMAN_ONLY  99 MB/s, 18.9 MB
//   16-bit RGB: libdeflate level 1 128 MB/s, 29.2 MB; zlib Z_HUFFMAN_ONLY  97 MB/s, 37.0 MB
// Matches buy almost nothing on such data and no packaged library offers a
// fast literal-only deflate, hence this coder. This one, same machine:
//   bench/images/deflate_bench.cpp, ~1 MB smooth-plus-noise strips:
//     8-bit:  libdeflate-1 207 MB/s, ratio 0.460; this 936 MB/s (854 without BMI2), 0.402
//     16-bit: libdeflate-1 109 MB/s, ratio 0.724; this 993 MB/s (892 without BMI2), 0.725
//   a 3840x2160 8-bit photograph in ~1 MB strips: libdeflate-1 114 MB/s, 16.59 MB;
//     zlib Z_HUFFMAN_ONLY 109 MB/s, 18.99 MB; this 821 MB/s, 18.93 MB
// Block size: 32, 64, 128, 256 KiB gave 652, 749, 810, 837 MB/s and 18.956,
// 18.937, 18.928, 18.926 MB on that photograph.
#include "cli/images/huffman_deflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace velvetshade {
namespace {

constexpr int kMaxLiteralBits = 15;
constexpr int kMaxCodeLengthBits = 7;
constexpr int kLiterals = 257;  // 256 bytes and the end of block
constexpr int kEndOfBlock = 256;
constexpr std::size_t kStoredMax = 65535;
// Long enough that a block's header (~60-100 bytes) and set-up are lost in
// its data, short enough to follow the statistics down a strip and stay in L2.
constexpr std::size_t kBlockBytes = 256 * 1024;

std::size_t BlockCount(std::size_t size) { return size == 0 ? 1 : (size + kBlockBytes - 1) / kBlockBytes; }

inline void Store64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, 8); }  // little-endian hosts

// Bits to the output, least significant first, 8 bytes stored at a time: the
// output must have 8 bytes of room past the last byte that counts.
struct BitWriter {
    std::uint8_t* out;
    std::uint64_t buffer = 0;
    unsigned count = 0;

    void Flush() {
        Store64(out, buffer);
        out += count >> 3;
        buffer >>= count & 56;
        count &= 7;
    }
    // n <= 32.
    void Put(std::uint32_t bits, unsigned n) {
        buffer |= std::uint64_t{bits} << count;
        count += n;
        if (count >= 32) Flush();
    }
    void AlignToByte() {
        count = (count + 7) & ~7u;
        Flush();
    }
    std::uint64_t BitPosition(const std::uint8_t* start) const { return std::uint64_t(out - start) * 8 + count; }
};

// Optimal code lengths for weights sorted ascending (in place, Moffat and
// Katajainen): on return weights[i] is the depth of leaf i. n >= 2.
void MinimumRedundancyDepths(std::uint32_t* a, int n) {
    a[0] += a[1];
    int root = 0, leaf = 2;
    for (int next = 1; next < n - 1; ++next) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = std::uint32_t(next);
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = std::uint32_t(next);
        } else {
            a[next] += a[leaf++];
        }
    }
    a[n - 2] = 0;
    for (int next = n - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
    int available = 1, used = 0, depth = 0;
    int root2 = n - 2, next = n - 1;
    while (available > 0) {
        while (root2 >= 0 && int(a[root2]) == depth) {
            ++used;
            --root2;
        }
        while (available > used) {
            a[next--] = std::uint32_t(depth);
            --available;
        }
        available = 2 * used;
        ++depth;
        used = 0;
    }
}

// Length-limited code lengths for frequencies[0, n) (unused symbols get 0),
// complete whenever two or more symbols are used. Returns the longest length.
int BuildLengths(const std::uint32_t* frequencies, int n, int limit, std::uint8_t* lengths) {
    std::array<std::uint64_t, 288> order;  // frequency << 16 | symbol, ascending
    int used = 0;
    for (int s = 0; s < n; ++s) {
        lengths[s] = 0;
        if (frequencies[s] != 0) order[used++] = std::uint64_t{frequencies[s]} << 16 | unsigned(s);
    }
    if (used == 0) return 0;
    if (used == 1) {
        lengths[order[0] & 0xffff] = 1;
        return 1;
    }
    std::sort(order.begin(), order.begin() + used);
    std::array<std::uint32_t, 288> depth;
    for (int i = 0; i < used; ++i) depth[i] = std::uint32_t(order[i] >> 16);
    MinimumRedundancyDepths(depth.data(), used);

    // Leaves deeper than the limit rise to it; then, while the code is
    // over-full, one leaf at the limit goes and a shorter leaf splits into
    // two one level down: each step takes exactly one unit off the Kraft sum.
    std::array<int, 16> per_length{};
    for (int i = 0; i < used; ++i) ++per_length[std::min<std::uint32_t>(depth[i], unsigned(limit))];
    std::uint32_t kraft = 0;
    for (int l = 1; l <= limit; ++l) kraft += std::uint32_t(per_length[l]) << (limit - l);
    while (kraft != (1u << limit)) {
        --per_length[limit];
        for (int l = limit - 1; l > 0; --l) {
            if (per_length[l] != 0) {
                --per_length[l];
                per_length[l + 1] += 2;
                break;
            }
        }
        --kraft;
    }
    // The rarest symbols take the longest codes.
    int i = 0, longest = 0;
    for (int l = limit; l > 0; --l) {
        for (int k = 0; k < per_length[l]; ++k) lengths[order[i++] & 0xffff] = std::uint8_t(l);
        if (per_length[l] != 0 && longest == 0) longest = l;
    }
    return longest;
}

std::uint32_t Reverse(std::uint32_t code, int bits) {
    std::uint32_t r = 0;
    for (int b = 0; b < bits; ++b) r |= ((code >> b) & 1) << (bits - 1 - b);
    return r;
}

// Canonical codewords, bit-reversed for the least-significant-first writer.
void BuildCodes(const std::uint8_t* lengths, int n, std::uint32_t* codes) {
    std::array<std::uint32_t, 17> count{}, next{};
    for (int s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    for (int l = 1; l <= 16; ++l) next[l] = (next[l - 1] + count[l - 1]) << 1;
    for (int s = 0; s < n; ++s)
        codes[s] = lengths[s] == 0 ? 0 : Reverse(next[lengths[s]]++, lengths[s]);
}

// A block's dynamic header, ready to write and with its size known first.
struct DynamicHeader {
    std::array<std::uint8_t, kLiterals> literal_lengths;
    std::array<std::uint32_t, kLiterals> literal_codes;
    int longest = 0;
    // The code-length sequence: symbol and its extra bits.
    std::array<std::uint8_t, kLiterals + 1> rle_symbols;
    std::array<std::uint8_t, kLiterals + 1> rle_extra;
    int rle_count = 0;
    std::array<std::uint8_t, 19> clen_lengths;
    std::array<std::uint32_t, 19> clen_codes;
    int hclen = 4;
    std::uint64_t bits = 0;
};

constexpr std::array<std::uint8_t, 19> kClenOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
constexpr std::array<std::uint8_t, 19> kClenExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

// Literal lengths 0..256, then one distance code of length 1: the format asks
// for at least one, and a lone code of one bit is the allowed incomplete code.
void PlanHeader(const std::uint32_t* frequencies, DynamicHeader& h) {
    h.longest = BuildLengths(frequencies, kLiterals, kMaxLiteralBits, h.literal_lengths.data());
    BuildCodes(h.literal_lengths.data(), kLiterals, h.literal_codes.data());

    std::array<std::uint8_t, kLiterals + 1> all;
    std::copy(h.literal_lengths.begin(), h.literal_lengths.end(), all.begin());
    all[kLiterals] = 1;
    const int total = kLiterals + 1;
    h.rle_count = 0;
    for (int i = 0; i < total;) {
        const std::uint8_t v = all[i];
        int run = 1;
        while (i + run < total && all[i + run] == v) ++run;
        if (v == 0 && run >= 3) {
            const int take = std::min(run, 138);
            if (take >= 11) {
                h.rle_symbols[h.rle_count] = 18;
                h.rle_extra[h.rle_count++] = std::uint8_t(take - 11);
            } else {
                h.rle_symbols[h.rle_count] = 17;
                h.rle_extra[h.rle_count++] = std::uint8_t(take - 3);
            }
            i += take;
        } else if (v != 0 && run >= 4) {
            // The value once, then repeats of it, 3-6 at a time.
            h.rle_symbols[h.rle_count] = v;
            h.rle_extra[h.rle_count++] = 0;
            int left = run - 1;
            while (left >= 3) {
                const int take = std::min(left, 6);
                h.rle_symbols[h.rle_count] = 16;
                h.rle_extra[h.rle_count++] = std::uint8_t(take - 3);
                left -= take;
            }
            i += run - left;
        } else {
            h.rle_symbols[h.rle_count] = v;
            h.rle_extra[h.rle_count++] = 0;
            i += 1;
        }
    }
    std::array<std::uint32_t, 19> clen_frequencies{};
    for (int k = 0; k < h.rle_count; ++k) ++clen_frequencies[h.rle_symbols[k]];
    // A code-length code of one symbol would be incomplete, which decoders
    // refuse: a second, unused symbol completes it.
    int clen_used = 0;
    for (std::uint32_t f : clen_frequencies) clen_used += f != 0;
    if (clen_used < 2) ++clen_frequencies[clen_frequencies[0] != 0 ? 1 : 0];
    BuildLengths(clen_frequencies.data(), 19, kMaxCodeLengthBits, h.clen_lengths.data());
    BuildCodes(h.clen_lengths.data(), 19, h.clen_codes.data());
    h.hclen = 19;
    while (h.hclen > 4 && h.clen_lengths[kClenOrder[h.hclen - 1]] == 0) --h.hclen;

    h.bits = 3 + 5 + 5 + 4 + 3 * std::uint64_t(h.hclen);
    for (int k = 0; k < h.rle_count; ++k)
        h.bits += h.clen_lengths[h.rle_symbols[k]] + kClenExtraBits[h.rle_symbols[k]];
}

void WriteHeader(BitWriter& w, const DynamicHeader& h, bool final) {
    w.Put((final ? 1u : 0u) | 2u << 1, 3);
    w.Put(kLiterals - 257, 5);
    w.Put(1 - 1, 5);
    w.Put(unsigned(h.hclen - 4), 4);
    for (int k = 0; k < h.hclen; ++k) w.Put(h.clen_lengths[kClenOrder[k]], 3);
    for (int k = 0; k < h.rle_count; ++k) {
        const std::uint8_t s = h.rle_symbols[k];
        w.Put(h.clen_codes[s], h.clen_lengths[s]);
        if (kClenExtraBits[s] != 0) w.Put(h.rle_extra[k], kClenExtraBits[s]);
    }
}

// The block's bytes through a table of codeword | length << 16, kPerFlush
// symbols between 8-byte stores: at most 7 bits wait after a store, so
// 7 + kPerFlush * longest <= 64.
template <int kPerFlush>
[[gnu::always_inline]] inline void WriteLiteralsBody(BitWriter& w, const std::uint32_t* table, const std::uint8_t* in,
                                                     std::size_t size) {
    std::uint8_t* out = w.out;
    std::uint64_t buffer = w.buffer;
    unsigned count = w.count;
    std::size_t i = 0;
    for (; i + kPerFlush <= size; i += kPerFlush) {
#pragma GCC unroll 8
        for (int k = 0; k < kPerFlush; ++k) {
            const std::uint32_t e = table[in[i + k]];
            buffer |= std::uint64_t{e & 0xffff} << count;
            count += e >> 16;
        }
        Store64(out, buffer);
        out += count >> 3;
        buffer >>= count & 56;
        count &= 7;
    }
    for (; i < size; ++i) {
        const std::uint32_t e = table[in[i]];
        buffer |= std::uint64_t{e & 0xffff} << count;
        count += e >> 16;
        Store64(out, buffer);
        out += count >> 3;
        buffer >>= count & 56;
        count &= 7;
    }
    w.out = out;
    w.buffer = buffer;
    w.count = count;
}

[[gnu::always_inline]] inline void WriteLiteralsFor(int longest, BitWriter& w, const std::uint32_t* table,
                                                    const std::uint8_t* in, std::size_t size) {
    const int per_flush = 57 / longest;
    if (per_flush >= 5)
        WriteLiteralsBody<5>(w, table, in, size);
    else if (per_flush == 4)
        WriteLiteralsBody<4>(w, table, in, size);
    else
        WriteLiteralsBody<3>(w, table, in, size);
}

void WriteLiteralsPlain(int longest, BitWriter& w, const std::uint32_t* table, const std::uint8_t* in,
                        std::size_t size) {
    WriteLiteralsFor(longest, w, table, in, size);
}

// The same body; BMI2's one-instruction variable shifts make it ~10% faster
// (936 against 854 MB/s on the benchmark's 8-bit strips).
[[gnu::target("bmi2")]] void WriteLiteralsBmi2(int longest, BitWriter& w, const std::uint32_t* table,
                                              const std::uint8_t* in, std::size_t size) {
    WriteLiteralsFor(longest, w, table, in, size);
}

void Histogram(const std::uint8_t* in, std::size_t size, std::uint32_t* frequencies) {
    // Four tables, so that runs of one value don't wait on their own stores.
    std::array<std::array<std::uint32_t, 256>, 4> c{};
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++c[0][in[i]];
        ++c[1][in[i + 1]];
        ++c[2][in[i + 2]];
        ++c[3][in[i + 3]];
    }
    for (; i < size; ++i) ++c[0][in[i]];
    for (int s = 0; s < 256; ++s) frequencies[s] = c[0][s] + c[1][s] + c[2][s] + c[3][s];
}

// Stored blocks of at most 65535 bytes each; an empty input makes one empty block.
void WriteStored(BitWriter& w, const std::uint8_t* in, std::size_t size, bool final) {
    std::size_t done = 0;
    do {
        const std::size_t n = std::min(size - done, kStoredMax);
        const bool last = done + n == size;
        w.Put(final && last ? 1u : 0u, 3);
        w.AlignToByte();
        w.out[0] = std::uint8_t(n);
        w.out[1] = std::uint8_t(n >> 8);
        w.out[2] = std::uint8_t(~n);
        w.out[3] = std::uint8_t(~n >> 8);
        if (n != 0) std::memcpy(w.out + 4, in + done, n);
        w.out += 4 + n;
        done += n;
    } while (done < size);
}

std::uint64_t StoredBits(std::uint64_t bit_position, std::size_t size) {
    std::uint64_t bits = 0;
    std::size_t done = 0;
    do {
        const std::size_t n = std::min(size - done, kStoredMax);
        const std::uint64_t start = bit_position + bits;
        bits += ((start + 3 + 7) & ~std::uint64_t{7}) - start + 32 + 8 * std::uint64_t(n);
        done += n;
    } while (done < size);
    return bits;
}

void CompressBlock(BitWriter& w, const std::uint8_t* start, const std::uint8_t* in, std::size_t size, bool final,
                   HuffmanCoder coder) {
    std::array<std::uint32_t, kLiterals> frequencies;
    Histogram(in, size, frequencies.data());
    frequencies[kEndOfBlock] = 1;
    DynamicHeader h;
    PlanHeader(frequencies.data(), h);
    std::uint64_t bits = h.bits;
    for (int s = 0; s < kLiterals; ++s) bits += std::uint64_t{frequencies[s]} * h.literal_lengths[s];
    if (bits >= StoredBits(w.BitPosition(start), size)) {
        WriteStored(w, in, size, final);
        return;
    }
    WriteHeader(w, h, final);
    std::array<std::uint32_t, 256> table;
    for (int s = 0; s < 256; ++s) table[s] = h.literal_codes[s] | std::uint32_t{h.literal_lengths[s]} << 16;
    w.Flush();
    if (coder == HuffmanCoder::kBmi2)
        WriteLiteralsBmi2(h.longest, w, table.data(), in, size);
    else
        WriteLiteralsPlain(h.longest, w, table.data(), in, size);
    w.Put(h.literal_codes[kEndOfBlock], h.literal_lengths[kEndOfBlock]);
}

}  // namespace

std::size_t HuffmanZlibBound(std::size_t size) {
    // Header, Adler-32, 8 bytes for the last whole-word store, and every
    // block stored: 5 bytes per stored piece at most (3 bits, padding, lengths).
    const std::size_t pieces = BlockCount(size) + size / kStoredMax;
    return 2 + 4 + 8 + size + 5 * pieces;
}

bool HuffmanCoderRuns(HuffmanCoder coder) {
    return coder == HuffmanCoder::kPlain || __builtin_cpu_supports("bmi2");
}

std::size_t HuffmanZlibCompress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t capacity) {
    return HuffmanZlibCompress(in, size, out, capacity,
                               HuffmanCoderRuns(HuffmanCoder::kBmi2) ? HuffmanCoder::kBmi2 : HuffmanCoder::kPlain);
}

std::size_t HuffmanZlibCompress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t capacity,
                                HuffmanCoder coder) {
    if (!HuffmanCoderRuns(coder)) return 0;
    if (capacity < HuffmanZlibBound(size)) return 0;
    out[0] = 0x78;  // deflate, 32 KiB window
    out[1] = 0x01;  // fastest; header check
    BitWriter w{out + 2};
    const std::size_t blocks = BlockCount(size);
    if (size == 0) {
        WriteStored(w, in, 0, true);
    } else {
        // Equal blocks, so that the last is not a sliver paying a full header.
        const std::size_t per_block = (size + blocks - 1) / blocks;
        for (std::size_t done = 0; done < size;) {
            const std::size_t n = std::min(per_block, size - done);
            CompressBlock(w, out + 2, in + done, n, done + n == size, coder);
            done += n;
        }
    }
    w.AlignToByte();
    const std::uint32_t adler = libdeflate_adler32(1, in, size);
    w.out[0] = std::uint8_t(adler >> 24);
    w.out[1] = std::uint8_t(adler >> 16);
    w.out[2] = std::uint8_t(adler >> 8);
    w.out[3] = std::uint8_t(adler);
    return std::size_t(w.out + 4 - out);
}

}  // namespace velvetshade
