#include "dat/prefetch.h"

#include <gtest/gtest.h>

#include "dat/crc.h"
#include "test_util.h"

namespace quorvin {
namespace {

using Kind = FilePrefetcher::Kind;

TEST(PrefetchTest, DeliversFilesInOrderThenStopsAtAFileThatCannotBeRead) {
  test::TempDir dir;
  std::string big(3 * 256 * 1024 + 17, 'b');
  test::WriteFile(dir / "a", big);
  test::WriteFile(dir / "empty", "");
  FilePrefetcher files({dir / "a", dir / "empty", dir / "gone", dir / "a"});
  std::string got;
  while (true) {
    const auto& p = files.Next();
    ASSERT_EQ(p.kind, Kind::kData);
    got.append(reinterpret_cast<const char*>(p.data), p.size);
    const bool last = p.last;
    if (last) {
      EXPECT_EQ(p.file_size, big.size());
    }
    files.Release();
    if (last) break;
  }
  EXPECT_TRUE(got == big);
  const auto& e = files.Next();
  EXPECT_EQ(e.kind, Kind::kData);
  EXPECT_TRUE(e.last);
  EXPECT_EQ(e.size, 0u);
  files.Release();
  const auto& err = files.Next();
  EXPECT_EQ(err.kind, Kind::kError);
  EXPECT_EQ(err.status.message(), "The file " + dir / "gone" + " no longer exists");
  files.Release();
}

TEST(PrefetchTest, StopsCleanlyWhenDroppedHalfWay) {
  test::TempDir dir;
  test::WriteFile(dir / "a", std::string(5 << 20, 'x'));
  for (int i = 0; i < 20; ++i) {
    FilePrefetcher files({dir / "a", dir / "a", dir / "a"});
    files.Next();
    files.Release();
  }
}

}  // namespace
}  // namespace quorvin
