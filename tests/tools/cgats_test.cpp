// CGATS.17 tables: what is written reads back the same, the reader takes what other programs
// write and refuses what is broken with the line, and every colour column gives the same colour.
#include "cgats.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

// A private folder (mkdtemp), removed with its contents when it goes.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hcf-cgats-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

using namespace hcf;
using hcf_tool::CgatsError;
using hcf_tool::CgatsTable;

// A table with values that need quoting: blanks, quotes, a '#', an empty text, a section word.
CgatsTable awkwardTable() {
  CgatsTable table;
  table.fileType = "CTI3";
  table.keywords = {{"CREATED", "2024-05-01T10:00:00Z"},
                    {"DESCRIPTOR", "chart \"A\" # 1"},
                    {"LGOROWLENGTH", "6"},
                    {"TARGET_INSTRUMENT", "X-Rite i1Pro 2"}};
  table.fields = {"SAMPLE_ID", "SAMPLE_NAME", "LAB_L"};
  table.rows = {{"A1", "dark skin", "37.5"},
                {"A2", "say \"hi\"", "-0.25"},
                {"A3", "", "1e-05"},
                {"A4", "#fff", "100"},
                {"A5", "END_DATA", "0"}};
  return table;
}

void expectSameTable(const CgatsTable& read, const CgatsTable& written) {
  EXPECT_EQ(read.fileType, written.fileType);
  EXPECT_EQ(read.fields, written.fields);
  EXPECT_EQ(read.rows, written.rows);
  for (const auto& [name, value] : written.keywords) EXPECT_EQ(read.keyword(name), value) << name;
  EXPECT_EQ(read.keyword("ORIGINATOR"), "hcf");
}

TEST(Cgats, WrittenTablesReadBackTheSame) {
  const CgatsTable table = awkwardTable();
  const std::string text = hcf_tool::cgatsText(table);
  EXPECT_TRUE(hcf_tool::looksLikeCgats(text));
  expectSameTable(hcf_tool::readCgats(text), table);
  // Keywords CGATS.17 does not define are declared; the counts are the writer's.
  EXPECT_NE(text.find("KEYWORD \"LGOROWLENGTH\"\nLGOROWLENGTH \"6\"\n"), std::string::npos);
  EXPECT_EQ(text.find("KEYWORD \"DESCRIPTOR\""), std::string::npos);
  EXPECT_NE(text.find("NUMBER_OF_SETS 5\n"), std::string::npos);
}

TEST(Cgats, FilesAreReplacedWholeAndKeepTheirPermissions) {
  const ScratchFolder dir;
  const auto path = dir.path() / "chart.txt";
  std::ofstream(path) << "old";
  ::chmod(path.c_str(), 0640);
  const CgatsTable table = awkwardTable();
  hcf_tool::writeCgatsFile(path, table);
  expectSameTable(hcf_tool::readCgats(slurp(path)), table);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // Nothing but the file is left in the folder; a table no file can hold changes nothing.
  CgatsTable broken = table;
  broken.rows[0][1] = "two\nlines";
  EXPECT_THROW(hcf_tool::writeCgatsFile(path, broken), hcf_tool::Failure);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  EXPECT_EQ(hcf_tool::readCgats(slurp(path)).rows, table.rows);
  EXPECT_THROW(hcf_tool::writeCgatsFile(dir.path() / "no" / "such.txt", table), hcf_tool::Failure);
}

struct TolerantRow {
  const char* what;
  std::string text;
  std::string fileType;
  std::vector<std::string> firstRow;
};

TEST(Cgats, ReadsWhatOtherProgramsWrite) {
  const std::string body =
      "NUMBER_OF_FIELDS 2\nBEGIN_DATA_FORMAT\nSAMPLE_ID LAB_L\nEND_DATA_FORMAT\n"
      "NUMBER_OF_SETS 1\nBEGIN_DATA\nA1 50\nEND_DATA\n";
  std::string crlf;
  for (const char c : "CGATS.17\n" + body)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string cr = "CGATS.17\n" + body;
  std::replace(cr.begin(), cr.end(), '\n', '\r');
  const TolerantRow rows[] = {
      {"CRLF", crlf, "CGATS.17", {"A1", "50"}},
      {"CR", cr, "CGATS.17", {"A1", "50"}},
      {"comments, blank lines, tabs and runs of blanks",
       "# made by hand\n\nCGATS.17   # the type\nNUMBER_OF_FIELDS\t2\nBEGIN_DATA_FORMAT\n"
       "SAMPLE_ID\t\tLAB_L # two\nEND_DATA_FORMAT\nBEGIN_DATA\n# first\n  A1 \t 50  \nEND_DATA\n",
       "CGATS.17",
       {"A1", "50"}},
      {"ArgyllCMS header, KEYWORD, unquoted values, a second table",
       "CTI3   \n\nDESCRIPTOR \"Argyll Calibration Target chart information 3\"\n"
       "KEYWORD \"LGOROWLENGTH\"\nLGOROWLENGTH 6\n" +
           body + "\nCAL\nBEGIN_DATA_FORMAT\nRGB_I\nEND_DATA_FORMAT\nBEGIN_DATA\n0\nEND_DATA\n",
       "CTI3",
       {"A1", "50"}},
      {"quoted values with doubled quotes",
       "CGATS.17\nBEGIN_DATA_FORMAT\nSAMPLE_ID SAMPLE_NAME\nEND_DATA_FORMAT\nBEGIN_DATA\n"
       "\"A 1\" \"say \"\"hi\"\"\"\nEND_DATA\n",
       "CGATS.17",
       {"A 1", "say \"hi\""}},
      {"fields over several lines, NUMBER_OF_SETS after the format",
       "LGOROWLENGTH\nBEGIN_DATA_FORMAT SAMPLE_ID\nLAB_L END_DATA_FORMAT\nNUMBER_OF_SETS 1\n"
       "BEGIN_DATA\nA1 50\nEND_DATA",
       "LGOROWLENGTH",
       {"A1", "50"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_TRUE(hcf_tool::looksLikeCgats(row.text));
    const CgatsTable table = hcf_tool::readCgats(row.text);
    EXPECT_EQ(table.fileType, row.fileType);
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(table.rows[0], row.firstRow);
  }
  EXPECT_EQ(hcf_tool::readCgats(rows[3].text).keyword("LGOROWLENGTH"), "6");
  for (const char* other : {"{\"curve\": []}", "50 0 0\n", "ABCDEF\n", "", "CGATS.17\n"}) {
    EXPECT_FALSE(hcf_tool::looksLikeCgats(other)) << other;
  }
}

struct ErrorRow {
  std::string text;
  std::string message;
};

TEST(Cgats, RefusesBrokenFilesNamingTheLine) {
  const std::string format = "CGATS.17\nBEGIN_DATA_FORMAT\nSAMPLE_ID LAB_L\nEND_DATA_FORMAT\n";
  const ErrorRow rows[] = {
      {"", "line 1: the file is empty"},
      {"\n  # only a comment\n", "line 1: the file is empty"},
      {"CGATS.17\nDESCRIPTOR \"x\"\n", "line 2: no data format"},
      {"CGATS.17\nBEGIN_DATA\nEND_DATA\n", "line 2: BEGIN_DATA before the data format"},
      {format, "line 4: no data: the file has no BEGIN_DATA section"},
      {format + "BEGIN_DATA\nA1 50\nA2\nEND_DATA\n",
       "line 7: 1 value, the data format has 2 fields"},
      {format + "BEGIN_DATA\nA1 50 7\nEND_DATA\n", "line 6: 3 values, the data format has 2"},
      {format + "NUMBER_OF_SETS 3\nBEGIN_DATA\nA1 50\nEND_DATA\n",
       "line 5: NUMBER_OF_SETS is 3, the data has 1 rows"},
      {"CGATS.17\nNUMBER_OF_FIELDS 3\nBEGIN_DATA_FORMAT\nSAMPLE_ID LAB_L\nEND_DATA_FORMAT\n"
       "BEGIN_DATA\nEND_DATA\n",
       "line 2: NUMBER_OF_FIELDS is 3, the data format has 2 fields"},
      {format + "NUMBER_OF_SETS many\n", "line 5: NUMBER_OF_SETS is 'many', not a count"},
      {format + "BEGIN_DATA\nA1 50\n", "line 5: BEGIN_DATA has no END_DATA"},
      {"CGATS.17\nBEGIN_DATA_FORMAT\nSAMPLE_ID\n",
       "line 2: BEGIN_DATA_FORMAT has no END_DATA_FORMAT"},
      {"CGATS.17\nBEGIN_DATA_FORMAT\nEND_DATA_FORMAT\n", "line 2: the data format names no fields"},
      {format + "BEGIN_DATA\n\"A1 50\nEND_DATA\n", "line 6: unterminated quote"},
      {"CGATS.17\nDESCRIPTOR \"open\n", "line 2: unterminated quote"},
      {"\"CGATS.17\"\n", "line 1: no file type (such as CGATS.17) before 'CGATS.17'"},
      {"BEGIN_DATA_FORMAT\n", "line 1: no file type"},
      {"CGATS.17 extra\n", "line 1: the file type 'CGATS.17' is followed by 'extra'"},
      {"CGATS.17\n\"DESCRIPTOR\" \"x\"\n", "line 2: a header line starts with a keyword"},
      {"CGATS.17\nBEGIN_DATA_FORMAT\nLAB_L LAB_L\nEND_DATA_FORMAT\n",
       "line 3: the field LAB_L is named twice"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    try {
      hcf_tool::readCgats(row.text);
      ADD_FAILURE() << "read";
    } catch (const CgatsError& e) {
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
    }
  }
}

// Every beginning of a good file either reads or is refused: never anything else.
TEST(Cgats, EveryCutOfAFileReadsOrIsRefused) {
  const std::string text = hcf_tool::cgatsText(awkwardTable());
  std::size_t read = 0;
  for (std::size_t n = 0; n <= text.size(); ++n) {
    try {
      hcf_tool::readCgats(text.substr(0, n));
      ++read;
    } catch (const CgatsError&) {
    }
  }
  EXPECT_EQ(read, 2u);  // the whole file, and the file without its last line end
}

// A scan of a curve that is far from flat, so that a band read from the wrong column shows.
std::shared_ptr<HCFSpectralScan> rampScan() {
  std::vector<double> curve;
  for (int i = 0; i < 31; ++i) curve.push_back(0.05 + 0.8 * std::sin(i * 0.1) * std::sin(i * 0.1));
  return *HCFSpectralScan::initWithSerial("S1", "4.0", {}, curve);
}

// The table without the fields for which `drop` is true, and with each remaining field renamed
// by `rename` and its values scaled by `scale`.
CgatsTable reshaped(const CgatsTable& table, const std::function<bool(const std::string&)>& drop,
                    const std::function<std::string(const std::string&)>& rename = nullptr,
                    double scale = 1) {
  CgatsTable out;
  out.keywords = table.keywords;
  out.rows.resize(table.rows.size());
  for (std::size_t f = 0; f < table.fields.size(); ++f) {
    const std::string& field = table.fields[f];
    if (drop(field)) continue;
    const bool band = field.rfind("SPECTRAL_NM_", 0) == 0;
    out.fields.push_back(band && rename ? rename(field.substr(12)) : field);
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      const std::string& v = table.rows[r][f];
      out.rows[r].push_back(band ? hcf_tool::formatNumber(std::stod(v) * scale) : v);
    }
  }
  return out;
}

TEST(Cgats, LabXyzAndSpectralColumnsGiveTheSameColour) {
  const auto scan = rampScan();
  CgatsTable table = hcf_tool::measurementTable("ramp", true);
  hcf_tool::appendScan(table, *scan, "ramp 1");
  const HCFLabColor expected = *scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50);
  const auto isLab = [](const std::string& f) { return f.rfind("LAB_", 0) == 0; };
  const auto isXyz = [](const std::string& f) { return f.rfind("XYZ_", 0) == 0; };
  const auto notBand = [](const std::string& f) { return f.rfind("SPECTRAL_NM_", 0) != 0; };
  const auto colourless = [&](const std::string& f) { return isLab(f) || isXyz(f); };
  CgatsTable percent = reshaped(
      table, colourless, [](const std::string& nm) { return "SPEC_" + nm; }, 100);
  percent.keywords.erase(std::remove_if(percent.keywords.begin(), percent.keywords.end(),
                                        [](const auto& k) { return k.first == "SPECTRAL_NORM"; }),
                         percent.keywords.end());
  // Bands halfway between, which the 10 nm integration leaves out: a wrong 7 if it did not.
  CgatsTable fiveNm = reshaped(table, colourless);
  for (unsigned nm = 405; nm < 700; nm += 10) {
    fiveNm.fields.push_back("SPECTRAL_NM_" + std::to_string(nm));
    fiveNm.rows[0].push_back("7");
  }
  const struct {
    const char* what;
    CgatsTable table;
  } rows[] = {
      {"LAB_L/A/B first", table},
      {"XYZ_X/Y/Z", reshaped(table, isLab)},
      {"SPECTRAL_NM_560", reshaped(table, colourless)},
      {"SPECTRAL_NM560",
       reshaped(table, colourless, [](const std::string& nm) { return "SPECTRAL_NM" + nm; })},
      {"nm560", reshaped(table, colourless, [](const std::string& nm) { return "nm" + nm; })},
      {"SPEC_560 in percent, no SPECTRAL_NORM", percent},
      {"every 5 nm", fiveNm},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const auto samples = hcf_tool::samplesFrom(row.table);
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0].id, "ramp 1");
    // The same colour to far below a visible difference (the text keeps 17 digits).
    EXPECT_NEAR(samples[0].lab.L, expected.L, 1e-9);
    EXPECT_NEAR(samples[0].lab.A, expected.A, 1e-9);
    EXPECT_NEAR(samples[0].lab.B, expected.B, 1e-9);
  }
  try {
    hcf_tool::samplesFrom(
        reshaped(table, [&](const std::string& f) { return !notBand(f) || colourless(f); }));
    ADD_FAILURE() << "read a table without colours";
  } catch (const CgatsError& e) {
    EXPECT_NE(std::string(e.what()).find("no colour columns"), std::string::npos) << e.what();
  }
}

TEST(Cgats, ColoursUnderAnotherIlluminantAreAdaptedToD50) {
  const HCFLabColor d50 = HCFLabColor::labColorWithL(50, 20, -30, HCFIlluminant::D50);
  const HCFXYZColor xyz = d50.XYZColor();
  const auto d65 =
      CieStdMath::adapt(xyz.X, xyz.Y, xyz.Z, HCFIlluminant::D50, HCFStdObserver::TwoDegree,
                        HCFIlluminant::D65, HCFStdObserver::TwoDegree);
  CgatsTable table;
  table.keywords = {{"ILLUMINANT", "D65"}};
  table.fields = {"XYZ_X", "XYZ_Y", "XYZ_Z"};
  table.rows = {{hcf_tool::formatNumber(d65.X), hcf_tool::formatNumber(d65.Y),
                 hcf_tool::formatNumber(d65.Z)}};
  const auto samples = hcf_tool::samplesFrom(table);
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples[0].id, "1");
  // Bradford there and back, with the kit's four-digit matrices: within 1e-4.
  EXPECT_NEAR(samples[0].lab.L, d50.L, 1e-4);
  EXPECT_NEAR(samples[0].lab.A, d50.A, 1e-4);
  EXPECT_NEAR(samples[0].lab.B, d50.B, 1e-4);
  table.keywords = {{"ILLUMINANT", "D75"}};
  EXPECT_THROW(hcf_tool::samplesFrom(table), CgatsError);
  table.keywords = {};
  table.rows[0][1] = "n/a";
  EXPECT_THROW(hcf_tool::samplesFrom(table), CgatsError);
}

TEST(Cgats, AColorimetersScanHasNoSpectralColumns) {
  auto tristimulus = std::make_shared<HCFTristimScan>();
  tristimulus->adjusted2DegreeLab = HCFLabColor::labColorWithL(50, 10, -20, HCFIlluminant::D50);
  CgatsTable spectral = hcf_tool::measurementTable("log", true);
  EXPECT_THROW(hcf_tool::appendScan(spectral, *tristimulus, "1"), hcf_tool::Failure);
  EXPECT_TRUE(spectral.rows.empty());
  CgatsTable plain = hcf_tool::measurementTable("log", false);
  hcf_tool::appendScan(plain, *tristimulus, "1");
  ASSERT_EQ(plain.rows.size(), 1u);
  EXPECT_EQ(std::vector<std::string>(plain.rows[0].begin(), plain.rows[0].begin() + 4),
            (std::vector<std::string>{"1", "50", "10", "-20"}));
}

}  // namespace
