// Unpacking archives without harm.
#include "platform/zip/unzip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using hcf::zip::unzipFileAtPath;

namespace {

struct Entry {
  std::string name;
  std::string content;
  bool link = false;
};

class UnzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("hcf-zip-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path makeZip(const std::vector<Entry>& entries) {
    const fs::path file = root_ / "package.zip";
    int error = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto& e : entries) {
      zip_source_t* src = zip_source_buffer(z, e.content.data(), e.content.size(), 0);
      const zip_int64_t i = zip_file_add(z, e.name.c_str(), src, ZIP_FL_ENC_UTF_8);
      EXPECT_GE(i, 0) << e.name;
      if (e.link) {
        zip_file_set_external_attributes(z, static_cast<zip_uint64_t>(i), 0, ZIP_OPSYS_UNIX,
                                         static_cast<zip_uint32_t>(S_IFLNK | 0777) << 16);
      }
    }
    EXPECT_EQ(zip_close(z), 0);
    return file;
  }

  static std::string read(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path root_;
};

}  // namespace

TEST_F(UnzipTest, UnpacksFilesAndFolders) {
  const auto zip =
      makeZip({{"info.json", "{\"ann_order\":[\"a\"]}"}, {"models/a.mlmodel", "AAAA"}});
  auto written = unzipFileAtPath(zip, root_ / "SERIAL1");
  ASSERT_TRUE(written.ok()) << written.error().localizedDescription;
  EXPECT_EQ(written->size(), 2u);
  EXPECT_EQ(read(root_ / "SERIAL1/models/a.mlmodel"), "AAAA");
  // Unpacking again replaces in place.
  const auto again = makeZip({{"models/a.mlmodel", "BB"}});
  ASSERT_TRUE(unzipFileAtPath(again, root_ / "SERIAL1").ok());
  EXPECT_EQ(read(root_ / "SERIAL1/models/a.mlmodel"), "BB");
}

TEST_F(UnzipTest, EntriesThatWouldLeaveTheFolderFailTheWholeUnpack) {
  for (const std::string bad :
       {"../evil.txt", "/tmp/evil.txt", "a/../../evil.txt", "a\\..\\evil"}) {
    const auto zip = makeZip({{"good.txt", "ok"}, {bad, "evil"}});
    auto r = unzipFileAtPath(zip, root_ / "dest");
    ASSERT_FALSE(r.ok()) << bad;
    EXPECT_NE(r.error().localizedDescription.find("outside the folder"), std::string::npos);
    EXPECT_FALSE(fs::exists(root_ / "evil.txt"));
    EXPECT_FALSE(fs::exists(root_ / "dest/good.txt")) << "nothing written when one entry is bad";
  }
}

TEST_F(UnzipTest, LinksAndNonArchivesAreRefused) {
  const auto zip = makeZip({{"link", "/etc/passwd", true}});
  auto r = unzipFileAtPath(zip, root_ / "dest");
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error().localizedDescription.find("is a link"), std::string::npos);
  std::ofstream(root_ / "not.zip") << "this is not a zip archive";
  EXPECT_FALSE(unzipFileAtPath(root_ / "not.zip", root_ / "dest").ok());
  EXPECT_FALSE(unzipFileAtPath(root_ / "missing.zip", root_ / "dest").ok());
}

TEST_F(UnzipTest, AFolderLinkPlacedInTheDestinationDoesNotLeadOutside) {
  fs::create_directories(root_ / "dest");
  fs::create_directories(root_ / "outside");
  fs::create_directory_symlink(root_ / "outside", root_ / "dest/sub");
  const auto zip = makeZip({{"sub/x.txt", "x"}});
  EXPECT_FALSE(unzipFileAtPath(zip, root_ / "dest").ok());
  EXPECT_FALSE(fs::exists(root_ / "outside/x.txt"));
}
