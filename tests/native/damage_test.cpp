// Each kind of damage the end-to-end tests inflict on a setup image really
// breaks the agreement of its stored and its computed checksum; otherwise
// a test that expects the damage to be noticed would prove nothing.
#include "setup_image.h"
#include "tests/damage.h"

namespace {

::testing::AssertionResult ChecksumAgrees(const Bytes& image)
{
    uint32_t field, computed;
    if (!FindChecksumField(image.data(), (uint32_t)image.size(), &field) ||
        !ComputeImageChecksum(image.data(), (uint32_t)image.size(), &computed))
        return ::testing::AssertionFailure() << "no PE headers";
    const uint32_t stored = image[field] | (image[field + 1] << 8) | (image[field + 2] << 16) |
                            ((uint32_t)image[field + 3] << 24);
    if (stored != computed)
        return ::testing::AssertionFailure()
               << "stored 0x" << std::hex << stored << ", computed 0x" << computed;
    return ::testing::AssertionSuccess();
}

TEST_P(SetupImage, EveryDamageBreaksTheChecksum)
{
    ASSERT_TRUE(ChecksumAgrees(image_.bytes));
    for (int kind = 0; kind < DAMAGE_KINDS; ++kind) {
        SCOPED_TRACE(NameDamage((DamageKind)kind));
        Bytes damaged = image_.bytes;
        ASSERT_TRUE(DamageImage(&damaged, (DamageKind)kind));
        EXPECT_NE(damaged, image_.bytes);
        EXPECT_FALSE(ChecksumAgrees(damaged));
    }
    Bytes text(image_.bytes.size(), 'x');
    EXPECT_FALSE(DamageImage(&text, DAMAGE_PAYLOAD)) << "no PE image";
    EXPECT_EQ(text, Bytes(image_.bytes.size(), 'x'));
}

INSTANTIATE_TEST_SUITE_P(Builds, SetupImage, ::testing::ValuesIn(Builds()), BuildName);

}  // namespace
