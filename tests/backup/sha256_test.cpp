// SHA-256 against the published test vectors, and its text form.
#include "backup/sha256.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace tlx {
namespace {

TEST(Sha256, PublishedVectors) {
    struct Case {
        const char* name;
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a million a", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> bytes(c.input.begin(), c.input.end());
        const auto digest = sha256(bytes);
        ASSERT_TRUE(digest);
        EXPECT_EQ(digestHex(*digest), c.digest);
    }
}

TEST(Sha256, HexIsLowerCaseHighNibbleFirst) {
    Sha256Digest digest{};
    digest[0] = 0x0F;
    digest[1] = 0xF0;
    digest[2] = 0xAB;
    digest[31] = 0x9C;
    EXPECT_EQ(digestHex(digest), "0ff0ab" + std::string(56, '0') + "9c");
}

TEST(Sha256, HexReadsBack) {
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(i * 37);
    EXPECT_EQ(parseDigestHex(digestHex(digest)), digest);
    std::string upper = digestHex(digest);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(parseDigestHex(upper), digest);
    for (const std::string bad : {std::string(63, '0'), std::string(65, '0'), std::string(63, '0') + "g",
                                  std::string(63, '0') + " ", std::string()})
        EXPECT_FALSE(parseDigestHex(bad)) << bad;
}

}  // namespace
}  // namespace tlx
