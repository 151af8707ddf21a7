#include "sim/image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quiblink::sim {
namespace {

namespace fs = std::filesystem;

class ImageTest : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/quiblink-sim-image-XXXXXX";
    ASSERT_TRUE(mkdtemp(name));
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

const Image kSample{
    {"meta.txt", Bytes{'n', '=', '\n'}},
    {"group-1.bin", Bytes{0, 1, 2, '\n', 0xFF}},
    {"empty.bin", Bytes{}},
};

TEST_F(ImageTest, RoundTripsThroughAFolderAndAFile) {
  for (std::string path : {(dir_ / "folder/").string(), (dir_ / "one.img").string()}) {
    SCOPED_TRACE(path);
    std::string error;
    ASSERT_TRUE(SaveImage(path, kSample, &error)) << error;
    Image loaded;
    bool exists = false;
    ASSERT_TRUE(LoadImage(path, &loaded, &exists, &error)) << error;
    EXPECT_TRUE(exists);
    EXPECT_EQ(loaded, kSample);
  }
  EXPECT_TRUE(fs::is_regular_file(dir_ / "folder" / "group-1.bin"));
  EXPECT_FALSE(fs::exists(dir_ / "one.img.tmp"));
}

TEST_F(ImageTest, AFolderLosesEntriesThatAreGone) {
  std::string path = (dir_ / "folder").string() + "/";
  std::string error;
  ASSERT_TRUE(SaveImage(path, kSample, &error));
  std::ofstream(dir_ / "folder" / "notes.md") << "kept";
  Image smaller = kSample;
  smaller.erase("group-1.bin");
  ASSERT_TRUE(SaveImage(path, smaller, &error));
  EXPECT_FALSE(fs::exists(dir_ / "folder" / "group-1.bin"));
  EXPECT_TRUE(fs::exists(dir_ / "folder" / "notes.md"));
}

TEST_F(ImageTest, AMissingImageIsEmptyAndADamagedOneAnError) {
  Image image;
  bool exists = true;
  std::string error;
  ASSERT_TRUE(LoadImage((dir_ / "none.img").string(), &image, &exists, &error));
  EXPECT_FALSE(exists);
  EXPECT_TRUE(image.empty());

  const char *damaged[] = {
      "something else\n",
      "quiblink-sim image 1\ngroup-1.bin 10\nabc\nend\n",
      "quiblink-sim image 1\ngroup-1.bin 3\nabc\n",
      "quiblink-sim image 1\n../x 1\na\nend\n",
  };
  for (const char *text : damaged) {
    std::ofstream(dir_ / "bad.img", std::ios::trunc) << text;
    EXPECT_FALSE(LoadImage((dir_ / "bad.img").string(), &image, &exists, &error)) << text;
  }
}

}  // namespace
}  // namespace quiblink::sim
