#include "platform/kvtrtl/KvwHostTypes.h"
#include "platform/kvtrtl/KvwRecords.h"

#include <gtest/gtest.h>

namespace {

TEST(HostWords, ItemIdsTravelAsTheirLowAndHighWords) {
    const KvwItemId id = 0x0202000012345678ull;
    EXPECT_EQ(KvwItemIdLow(id), 0x12345678u);
    EXPECT_EQ(KvwItemIdHigh(id), 0x02020000u);
    EXPECT_EQ(KvwMakeItemId(0x12345678u, 0x02020000u), id);
    // Words are pointer-sized; only their low 32 bits carry a half of an id.
    EXPECT_EQ(KvwMakeItemId(static_cast<KvwWord>(0xFFFFFFFF00000001ull), 0), 1u);
}

TEST(HostWords, GroupItemsHaveBothKindBitsInTheirHighWord) {
    EXPECT_TRUE(KvwIsGroupItem(KvwMakeItemId(0, 0x02020000u)));
    EXPECT_TRUE(KvwIsGroupItem(KvwMakeItemId(0, 0x7FFFFFFFu)));
    EXPECT_FALSE(KvwIsGroupItem(KvwMakeItemId(0, 0x02010000u)));
    EXPECT_FALSE(KvwIsGroupItem(KvwMakeItemId(0xFFFFFFFFu, 0x00020000u)));
}

TEST(HostWords, EveryWordBelowTheFailureRangeIsASuccess) {
    EXPECT_TRUE(KvwSucceeded(kKvwOk));
    EXPECT_TRUE(KvwSucceeded(kKvwQueued));
    EXPECT_TRUE(KvwSucceeded(0xFFF));
    EXPECT_FALSE(KvwSucceeded(kKvwCancelled));
    EXPECT_FALSE(KvwSucceeded(kKvwInvalidArgument));
    EXPECT_FALSE(KvwSucceeded(kKvwNothingToWorkOn));
}

} // namespace

TEST(HostRecords, APropertyIsCopiedOutAsItsTypeWordThenItsValueAndCountsBoth) {
    CKvwItemProperty property;
    property.type = 0x01020304;
    property.value = {0xAA, 0xBB, 0xCC};
    ASSERT_EQ(property.Length(), 7u);
    BYTE out[8] = {0, 0, 0, 0, 0, 0, 0, 0x55};
    property.CopyTo(out);
    const BYTE expected[8] = {0x04, 0x03, 0x02, 0x01, 0xAA, 0xBB, 0xCC, 0x55};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i], expected[i]) << "byte " << i;

    CKvwItemProperty empty;
    empty.type = 7;
    EXPECT_EQ(empty.Length(), 4u) << "a property without a value is its type word alone";
}
