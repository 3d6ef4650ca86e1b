#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module/resources/pipl.h"
#include "tests/windows/pipl_expectations.h"

namespace {

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PropertyList, MatchesTheTableByteForByte) {
    EXPECT_EQ(pipl::kBytes.size(), 278u);
    const auto mismatches = pipl_expect::Mismatches(pipl::kBytes.data(), pipl::kBytes.size());
    for (const auto& m : mismatches) ADD_FAILURE() << m;
}

TEST(PropertyList, CheckCoversEveryByte) {
    // The expectations must pin all 278 bytes, padding included: a change of
    // any single byte has to be reported.
    for (std::size_t i = 0; i < pipl::kBytes.size(); ++i) {
        auto bytes = pipl::kBytes;
        bytes[i] ^= 0x5a;
        EXPECT_FALSE(pipl_expect::Mismatches(bytes.data(), bytes.size()).empty())
            << "byte " << i << " is not checked";
    }
    EXPECT_FALSE(pipl_expect::Mismatches(pipl::kBytes.data(), 277).empty());
}

TEST(PropertyList, RepeatsTheGlobalSetupWords) {
    EXPECT_EQ(pipl_expect::ReadU32(&pipl::kBytes[154 + 16]), 0x00080001u);
    EXPECT_EQ(pipl_expect::ReadU32(&pipl::kBytes[194 + 16]), 0x02000000u);
    EXPECT_EQ(pipl::kModuleVersion, 0x00080001u);
    EXPECT_EQ(pipl::kGlobalOutFlags, 0x02000000u);
}

TEST(PropertyList, CountedTextsHaveNoTerminator) {
    // "Velvetshade" fills its 12 bytes exactly and "BRVN VS" its 8.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pipl::kBytes[30 + 16]), 12),
              std::string("\x0bVelvetshade"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pipl::kBytes[234 + 16]), 8),
              std::string("\x07" "BRVN VS"));
}

TEST(PropertyList, GeneratedFileHoldsTheBytes) {
    const std::string file = ReadFile(VS_PIPL_FILE);
    ASSERT_EQ(file.size(), pipl::kBytes.size());
    EXPECT_TRUE(std::equal(file.begin(), file.end(), pipl::kBytes.begin(),
                           [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
}

TEST(Manifest, IsTheAsInvokerTrustSectionWithCrlfLineEnds) {
    const std::string text = ReadFile(VS_MANIFEST_FILE);
    EXPECT_EQ(text.size(), 381u);
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++lines;
            EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        } else if (text[i] == '\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
        }
    }
    EXPECT_EQ(lines, 10u);
    EXPECT_EQ(text.rfind("<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\r\n", 0), 0u);
    EXPECT_NE(text.find("manifestVersion='1.0'"), std::string::npos);
    EXPECT_NE(text.find("\r\n  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\n        <requestedExecutionLevel level='asInvoker' uiAccess='false' />\r\n"),
              std::string::npos);
    EXPECT_TRUE(text.ends_with("</assembly>\r\n"));
}

}  // namespace
