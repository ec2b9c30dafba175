// The patch's digest: the builder records it, the installer refuses a patch that does not
// match it, one flipped byte anywhere in the entries included.
#include <gtest/gtest.h>

#include <cstring>

#include "base/little_endian.h"
#include "payload/digest_area.h"
#include "payload/extract.h"
#include "payload/region.h"
#include "payload/stamp.h"
#include "tests/payload_test_support.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

class PatchDigest : public ::testing::Test {
protected:
    std::vector<std::uint8_t> region = template_region();
    std::vector<std::uint8_t> area = template_digest_area();
    void SetUp() override {
        std::vector<payload::PackFile> files = {{"patch.ini", {'[', 'w', 'o', 'r', 'k', ']', '\n'}},
                                                {"new.bin", std::vector<std::uint8_t>(5000, 7)}};
        ASSERT_FALSE(payload::stamp_region(region, files).failed());
        ASSERT_FALSE(payload::stamp_digest(area, region).failed());
    }
};

TEST_F(PatchDigest, CoversTheWholeRegionAndAcceptsItUnchanged) {
    EXPECT_EQ(area[payload::kDigestStateAt], '#');
    EXPECT_EQ(le::get32(area.data() + payload::kDigestCoveredAt), payload::kRegionBytes);
    EXPECT_FALSE(payload::verify_region(region, area).failed());
}

// Every byte counts, the '.' fill behind the list and its end included: a flipped byte, and
// one more entry written over the fill behind the last one, which the list would take in.
TEST_F(PatchDigest, RefusesAnyChangedByteAndAnEntryAddedBehindTheList) {
    const std::size_t list_end = 2 * 24 + 7 + 5000;
    for (std::size_t at : {std::size_t{0}, std::size_t{20}, std::size_t{30}, std::size_t{24 + 7 + 24 + 4999}, list_end,
                           payload::kRegionBytes - 5, payload::kRegionBytes - 1}) {
        SCOPED_TRACE(at);
        region[at] ^= 0x01;
        Result r = payload::verify_region(region, area);
        EXPECT_TRUE(r.failed());
        EXPECT_EQ(r.problem, "The patch is damaged: download it again.");
        region[at] ^= 0x01;
    }
    std::size_t at = list_end;
    put_entry(region, &at, "planted.bin", 4, "evil");
    ASSERT_TRUE(payload::walk_entry_list(region, nullptr, nullptr)) << "the list itself takes the planted entry in";
    EXPECT_TRUE(payload::verify_region(region, area).failed());
}

TEST_F(PatchDigest, RefusesAnAreaWithoutADigestAndTheOlderKind) {
    std::vector<std::uint8_t> wrong = area;
    wrong[payload::kDigestValueAt + 31] ^= 0x80;
    EXPECT_TRUE(payload::verify_region(region, wrong).failed());
    wrong = area;
    wrong[payload::kDigestCoveredAt] ^= 0x01;  // a covered length other than the whole region
    EXPECT_TRUE(payload::verify_region(region, wrong).failed());
    Result unset = payload::verify_region(region, template_digest_area());
    EXPECT_TRUE(unset.failed());
    EXPECT_NE(unset.problem.find("carries no digest"), std::string::npos);

    // The older kind recorded only the bytes up to the list's end: such a patch must be stamped
    // again, and such a template is not stamped at all.
    wrong = area;
    wrong[payload::kDigestStateAt] = payload::kDigestSetOlder;
    Result older = payload::verify_region(region, wrong);
    EXPECT_TRUE(older.failed());
    EXPECT_NE(older.problem.find("Stamp it again"), std::string::npos) << older.problem;
    std::vector<std::uint8_t> old_template = template_digest_area();
    old_template[payload::kDigestStateAt] = payload::kDigestUnsetOlder;
    Result refused = payload::stamp_digest(old_template, region);
    EXPECT_TRUE(refused.failed());
    EXPECT_NE(refused.problem.find("older kind"), std::string::npos) << refused.problem;
}

TEST(PatchDigestArea, IsFoundByItsMarkerAndStateOnly) {
    std::vector<std::uint8_t> image(4000, 'x');
    const char code_copy[] = "DravoPatchDigest";  // the marker as a string constant of the code: no state byte
    std::memcpy(image.data() + 100, code_copy, sizeof code_copy);
    std::size_t at = 0;
    EXPECT_EQ(payload::find_digest_area(image, &at), payload::FindResult::NotFound);
    std::vector<std::uint8_t> area = template_digest_area();
    std::copy(area.begin(), area.end(), image.begin() + 2000);
    EXPECT_EQ(payload::find_digest_area(image, &at), payload::FindResult::Found);
    EXPECT_EQ(at, 2000u);
    std::copy(area.begin(), area.end(), image.begin() + 3000);
    EXPECT_EQ(payload::find_digest_area(image, &at), payload::FindResult::Ambiguous);
}

}  // namespace
