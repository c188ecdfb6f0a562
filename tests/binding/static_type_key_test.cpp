#include "binding/static_type_key.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {
struct Alpha {};
struct Beta {};
enum class Gamma : int32_t { One = 1 };
struct Pinned {};
}  // namespace

template <>
struct mau::PinnedStaticTypeId<Pinned> : std::integral_constant<uint32_t, 0x7dfb1102u> {};

namespace mau {
namespace {

TEST(StaticTypeKey, IdsAreConstantsDistinctPerType) {
  constexpr uint32_t kIds[] = {StaticTypeKeyOf<Alpha>().id,
                               StaticTypeKeyOf<Beta>().id,
                               StaticTypeKeyOf<Gamma>().id,
                               StaticTypeKeyOf<int32_t>().id,
                               StaticTypeKeyOf<uint32_t>().id,
                               StaticTypeKeyOf<std::string>().id,
                               StaticTypeKeyOf<std::vector<Alpha>>().id,
                               ReservedStaticTypeKey().id};
  EXPECT_EQ(std::set<uint32_t>(std::begin(kIds), std::end(kIds)).size(), std::size(kIds));
  static_assert(StaticTypeKeyOf<const Alpha>().id == StaticTypeKeyOf<Alpha>().id);
  EXPECT_EQ(&StaticTypeKeyOf<const Alpha>(), &StaticTypeKeyOf<Alpha>())
      << "one key object per type";
}

TEST(StaticTypeKey, PinnedIdsAndDisplayTexts) {
  EXPECT_EQ(StaticTypeKeyOf<Pinned>().id, 0x7dfb1102u);
  EXPECT_STREQ(StaticTypeKeyOf<Pinned>().displayName(), "#7DFB1102");
  EXPECT_EQ(ReservedStaticTypeKey().id, kReservedStaticTypeId);
  EXPECT_STREQ(ReservedStaticTypeKey().displayName(), "#1BE7EF8E");
}

}  // namespace
}  // namespace mau
