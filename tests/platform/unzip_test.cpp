// Unpacking archives without harm.
#include "platform/zip/unzip.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
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

  // `stored`: entries are kept uncompressed, so their bytes can be found in the archive.
  fs::path makeZip(const std::vector<Entry>& entries, bool stored = false) {
    const fs::path file = root_ / "package.zip";
    int error = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto& e : entries) {
      zip_source_t* src = zip_source_buffer(z, e.content.data(), e.content.size(), 0);
      const zip_int64_t i = zip_file_add(z, e.name.c_str(), src, ZIP_FL_ENC_UTF_8);
      EXPECT_GE(i, 0) << e.name;
      if (stored) zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
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

// An absolute name or any ".." component is refused before anything is written, even a ".."
// that would come back inside: not a file, not a folder.
TEST_F(UnzipTest, EntriesThatWouldLeaveTheFolderFailTheWholeUnpack) {
  for (const std::string bad : {"../evil.txt", "/tmp/evil.txt", "a/../../evil.txt", "a\\..\\evil",
                                "a/../back-inside.txt"}) {
    const auto zip = makeZip({{"good.txt", "ok"}, {bad, "evil"}});
    auto r = unzipFileAtPath(zip, root_ / "dest");
    ASSERT_FALSE(r.ok()) << bad;
    EXPECT_NE(r.error().localizedDescription.find("outside the folder"), std::string::npos);
    EXPECT_FALSE(fs::exists(root_ / "evil.txt"));
    EXPECT_FALSE(fs::exists(root_ / "dest")) << bad << ": nothing written when one entry is bad";
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

namespace {

// Rewrites the bytes of an archive: `edit` gets them whole.
void rewrite(const fs::path& file, const std::function<void(std::string&)>& edit) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  edit(bytes);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Sets the uncompressed size of the last entry, in its local header and the central directory.
void declareSize(std::string& zip, std::uint32_t size) {
  const auto patch = [&](const char* signature, std::size_t offset) {
    std::memcpy(zip.data() + zip.rfind(signature) + offset, &size, 4);
  };
  patch("PK\x03\x04", 22);
  patch("PK\x01\x02", 24);
}

}  // namespace

// The limits count what actually inflates; whatever the unpack wrote before it stopped is gone.
TEST_F(UnzipTest, InflatedBytesAreCountedAndAFailedUnpackLeavesNothing) {
  const std::string zeros(20 << 20, '\0');
  std::string noise(6000, ' ');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 % 251);
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    std::function<void(std::string&)> edit;
    hcf::zip::UnzipLimits limits;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"declared honestly, too dense",
       {{"ok.txt", "ok"}, {"zeros", zeros}},
       nullptr,
       {},
       "times its own size"},
      {"declares 1000 bytes, inflates to 20 MiB",
       {{"ok.txt", "ok"}, {"zeros", zeros}},
       [](std::string& z) { declareSize(z, 1000); },
       {},
       "more than the 1000 bytes it declares"},
      {"more than the total",
       {{"a", noise}, {"b", noise}},
       nullptr,
       {10000, 10000, 1000000, 0},
       "more than 10000 bytes"},
      {"more entries than allowed",
       {{"ok.txt", "ok"}, {"a", "a"}, {"b", "b"}},
       nullptr,
       {2},
       "too many entries"},
      {"checksum fails",
       {{"ok.txt", "ok"}, {"noise", noise}},
       [&](std::string& z) { z[z.find(noise.substr(100, 16)) + 3] ^= 1; },
       {},
       "is damaged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto zip = makeZip(c.entries, c.name == std::string("checksum fails"));
    if (c.edit) rewrite(zip, c.edit);
    fs::remove_all(root_ / "dest");
    auto r = unzipFileAtPath(zip, root_ / "dest", c.limits);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().localizedDescription.find(c.message), std::string::npos)
        << r.error().localizedDescription;
    EXPECT_FALSE(fs::exists(root_ / "dest/ok.txt"));
    EXPECT_FALSE(fs::exists(root_ / "dest/zeros"));
    EXPECT_FALSE(fs::exists(root_ / "dest/noise"));
  }
}

// A file that cannot be written (here: larger than the process may write, as a full disk would
// refuse it) is the system's failure with its reason, not the archive's.
TEST_F(UnzipTest, AWriteFailureSaysWhyAndLeavesNothing) {
  std::string noise(1 << 20, '\0');
  std::mt19937 random(7);
  for (auto& c : noise) c = static_cast<char>(random());
  const auto zip = makeZip({{"ok.txt", "ok"}, {"big", noise}});
  struct rlimit before {};
  ::getrlimit(RLIMIT_FSIZE, &before);
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 64 * 1024;
  ::setrlimit(RLIMIT_FSIZE, &small);
  auto r = unzipFileAtPath(zip, root_ / "dest");
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, handler);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().localizedDescription,
            std::string(std::strerror(EFBIG)) + ": big could not be written");
  EXPECT_FALSE(fs::exists(root_ / "dest/ok.txt"));
  EXPECT_FALSE(fs::exists(root_ / "dest/big"));
}
