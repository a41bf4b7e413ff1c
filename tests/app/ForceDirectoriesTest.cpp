#include <gtest/gtest.h>

#include <fstream>

#include "app/ForceDirectories.h"
#include "store/Errors.h"
#include "tests/support/TestHost.h"

namespace pairsweep::app {
namespace {

namespace fs = std::filesystem;

TEST(ForceDirectoriesTest, CreatesMissingParentsOutermostFirst) {
  testing::TTempDir root;
  std::ofstream(root.Path() / "file") << "x";
  struct TCase {
    std::string Path;
    bool Result;
  };
  const TCase cases[] = {
      {"a/b/c", true},     {"a/b/c", true},  // exists already
      {"d/e/", true},                        // one trailing separator
      {"file/sub", false}, {"file", false},
  };
  for (const TCase& c : cases) {
    const std::string path = (root.Path() / c.Path).string();
    EXPECT_EQ(ForceDirectories(path), c.Result) << c.Path;
    if (c.Result) {
      EXPECT_TRUE(fs::is_directory(path)) << c.Path;
    }
  }
  EXPECT_FALSE(DirectoryExists((root.Path() / "file").string()));
  EXPECT_TRUE(ForceDirectories("/"));
}

TEST(ForceDirectoriesTest, EmptyPathIsRefused) {
  try {
    ForceDirectories("");
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Unable to create directory");
  }
}

}  // namespace
}  // namespace pairsweep::app
