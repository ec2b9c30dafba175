// SHA-256: the published known answers, the incremental path fed in pieces that straddle the
// 64-byte block, and the digest of a file read in chunks against the same bytes in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "platform/digest.h"
#include "test_support.h"

using testing_support::CoreTest;
using testing_support::TempDir;

namespace {

std::string hex_of(const std::string& bytes) {
    plat::Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    plat::Sha256Digest digest{};
    EXPECT_TRUE(hash.finish(&digest));
    return plat::to_hex(digest);
}

// Bytes that no block boundary makes regular.
std::string varied_bytes(std::size_t count) {
    std::string bytes(count, '\0');
    std::uint32_t x = 0x12345678;
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

TEST(Sha256, GivesThePublishedDigests) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(hex_of(c.input), c.digest);
    }
}

TEST(Sha256, SumsPiecesOfAnySizeAsOneRun) {
    // One million 'a' in pieces below, at and across the block size, so that partial blocks
    // carry over between calls at every offset.
    const std::string as(5000, 'a');
    const std::size_t sizes[] = {1, 7, 63, 64, 65, 127, 1000, 4999, 0};
    plat::Sha256 hash;
    std::size_t fed = 0;
    for (std::size_t i = 0; fed < 1000000; ++i) {
        std::size_t piece = std::min(sizes[i % std::size(sizes)], std::size_t{1000000} - fed);
        hash.update(as.data(), piece);
        fed += piece;
    }
    plat::Sha256Digest digest{};
    ASSERT_TRUE(hash.finish(&digest));
    EXPECT_EQ(plat::to_hex(digest), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    // finish() starts afresh: the same object then hashes nothing, then "abc".
    ASSERT_TRUE(hash.finish(&digest));
    EXPECT_EQ(plat::to_hex(digest), hex_of(""));
    hash.update("abc", 3);
    ASSERT_TRUE(hash.finish(&digest));
    EXPECT_EQ(plat::to_hex(digest), hex_of("abc"));
}

class Sha256File : public CoreTest {};

TEST_F(Sha256File, MatchesTheDigestOfTheSameBytesInMemory) {
    TempDir dir;
    // Several read chunks and a part of one, and a file that fits in one read.
    for (std::size_t size : {std::size_t{5} * 1024 * 1024 + 4321, std::size_t{100}}) {
        SCOPED_TRACE(size);
        const std::string bytes = varied_bytes(size);
        const std::string path = dir.file("patch.bin");
        testing_support::write_file(path, bytes);
        plat::Sha256Digest digest{};
        ASSERT_TRUE(plat::sha256_of_file(path.c_str(), &digest)) << plat::last_error_text();
        EXPECT_EQ(plat::to_hex(digest), hex_of(bytes));
    }
}

TEST_F(Sha256File, FailsOnAMissingFileOrAFailedRead) {
    TempDir dir;
    plat::Sha256Digest digest{};
    EXPECT_FALSE(plat::sha256_of_file(dir.file("missing.bin").c_str(), &digest));
    EXPECT_EQ(plat::last_error(), plat::Error::FileNotFound);

    const std::string path = dir.file("patch.bin");
    testing_support::write_file(path, varied_bytes(3 * 1024 * 1024));
    plat::fault_injection().fail_nth(plat::FaultOp::Read, 2);
    EXPECT_FALSE(plat::sha256_of_file(path.c_str(), &digest));
    EXPECT_EQ(plat::fault_injection().injected, 1);
    EXPECT_EQ(plat::last_error(), plat::Error::Other);
    EXPECT_EQ(digest, plat::Sha256Digest{});

    // The file was closed on the way out: it opens again, exclusively, and hashes.
    plat::reset_fault_injection();
    EXPECT_TRUE(plat::sha256_of_file(path.c_str(), &digest));
}

}  // namespace
