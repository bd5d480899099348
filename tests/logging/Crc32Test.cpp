// The CRC-32 of the recording file against the standard check values and the bit-by-bit
// definition, for every length and alignment the table and carry-less paths meet.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/Crc32.h"

namespace rv8 {
namespace {

TEST(Crc32Test, MatchesTheStandardCheckValues) {
    struct Case {
        std::string data;
        uint32_t crc;
    };
    const Case cases[] = {{"", 0u},
                          {"123456789", 0xCBF43926u},
                          {"The quick brown fox jumps over the lazy dog", 0x414FA339u}};
    for (const Case& c : cases) {
        EXPECT_EQ(Crc32(c.data.data(), c.data.size()), c.crc) << c.data;
        // Any split gives the same result as one pass (covers the 8-byte and 1-byte paths).
        for (std::size_t cut = 0; cut <= c.data.size(); ++cut) {
            EXPECT_EQ(Crc32(c.data.data() + cut, c.data.size() - cut, Crc32(c.data.data(), cut)),
                      c.crc);
        }
    }
}

// Bit by bit, straight from the definition.
uint32_t ReferenceCrc(const uint8_t* p, std::size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
    }
    return ~c;
}

// `n` bytes from a linear congruential generator started at `seed`.
std::vector<uint8_t> PseudoRandomBytes(std::size_t n, uint32_t seed) {
    std::vector<uint8_t> data(n);
    for (uint8_t& b : data) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return data;
}

TEST(Crc32Test, AgreesWithTheDefinitionForEveryLengthAndAlignment) {
    const std::vector<uint8_t> data = PseudoRandomBytes(1100, 12345);
    for (std::size_t start = 0; start < 16; start += 5) {
        for (std::size_t n = 0; start + n <= data.size(); n += (n < 300 ? 1 : 97)) {
            ASSERT_EQ(Crc32(data.data() + start, n), ReferenceCrc(data.data() + start, n))
                << "start " << start << " length " << n;
        }
    }
}

// Blocks long enough for the wide folding paths (eight lanes from 192 bytes, sixteen lanes on
// 256-bit registers from 512 bytes), over several loop rounds and every tail length.
TEST(Crc32Test, AgreesWithTheDefinitionForLongBlocks) {
    const std::vector<uint8_t> data = PseudoRandomBytes(4200, 777);
    for (const std::size_t start : {0, 7}) {
        for (std::size_t n = 180; start + n <= data.size(); ++n) {
            ASSERT_EQ(Crc32(data.data() + start, n), ReferenceCrc(data.data() + start, n))
                << "start " << start << " length " << n;
        }
    }
}

}  // namespace
}  // namespace rv8
