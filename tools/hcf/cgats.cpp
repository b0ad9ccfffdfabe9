#include "cgats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

namespace hcf_tool {

using namespace hcf;

namespace {

// ---- Reading -------------------------------------------------------------------------------

CgatsError at(std::size_t line, const std::string& what) {
  return CgatsError("line " + std::to_string(line) + ": " + what);
}

struct Token {
  std::string text;
  bool quoted = false;
};

// The tokens of one line that holds any, and that line's number (from 1).
struct Line {
  std::size_t number = 0;
  std::vector<Token> tokens;
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }
bool lineEnd(char c) { return c == '\r' || c == '\n'; }

// The quoted value that starts after the quote at `i`, with `i` moved past its closing quote.
Token quotedToken(std::string_view text, std::size_t& i, std::size_t line) {
  Token token{{}, true};
  for (++i;; ++i) {
    if (i >= text.size() || lineEnd(text[i])) throw at(line, "unterminated quote");
    if (text[i] != '"') {
      token.text += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '"') {
      token.text += '"';
      ++i;
    } else {
      ++i;
      return token;
    }
  }
}

// The text split into lines of tokens: blanks and tabs separate values, CR, LF and CRLF end
// lines, '#' at the start of a value comments out the rest of its line, and quoted values keep
// their blanks ("" inside stands for one quote). Lines without tokens are left out.
std::vector<Line> tokenize(std::string_view text) {
  std::vector<Line> lines;
  Line current{1, {}};
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (lineEnd(c)) {
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      const std::size_t next = current.number + 1;
      if (!current.tokens.empty()) lines.push_back(std::move(current));
      current = Line{next, {}};
    } else if (blank(c)) {
      ++i;
    } else if (c == '#') {
      while (i < text.size() && !lineEnd(text[i])) ++i;
    } else if (c == '"') {
      current.tokens.push_back(quotedToken(text, i, current.number));
    } else {
      const std::size_t start = i;
      while (i < text.size() && !blank(text[i]) && !lineEnd(text[i]) && text[i] != '"') ++i;
      current.tokens.push_back({std::string(text.substr(start, i - start)), false});
    }
  }
  if (!current.tokens.empty()) lines.push_back(std::move(current));
  return lines;
}

bool isIdentifier(std::string_view word) {
  if (word.empty() || !std::isalpha(static_cast<unsigned char>(word[0]))) return false;
  return std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
  });
}

constexpr std::string_view kBeginFormat = "BEGIN_DATA_FORMAT";
constexpr std::string_view kEndFormat = "END_DATA_FORMAT";
constexpr std::string_view kBeginData = "BEGIN_DATA";
constexpr std::string_view kEndData = "END_DATA";
constexpr std::string_view kKeyword = "KEYWORD";
constexpr std::string_view kNumberOfFields = "NUMBER_OF_FIELDS";
constexpr std::string_view kNumberOfSets = "NUMBER_OF_SETS";

bool isWord(const Token& token, std::string_view word) {
  return !token.quoted && token.text == word;
}

bool isStructureWord(std::string_view word) {
  for (const auto w :
       {kBeginFormat, kEndFormat, kBeginData, kEndData, kKeyword, kNumberOfFields, kNumberOfSets}) {
    if (word == w) return true;
  }
  return false;
}

// A count of NUMBER_OF_FIELDS or NUMBER_OF_SETS, its keyword and the line that gave it.
struct DeclaredCount {
  std::size_t value = 0;
  std::string name;
  std::size_t line = 0;
};

DeclaredCount countOf(const Line& line) {
  const std::string& name = line.tokens[0].text;
  if (line.tokens.size() != 2) throw at(line.number, name + " takes one count");
  const std::string& text = line.tokens[1].text;
  std::size_t value = 0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || res.ec != std::errc() || res.ptr != text.data() + text.size()) {
    throw at(line.number, name + " is '" + text + "', not a count");
  }
  return {value, name, line.number};
}

// Reads one table from `lines`, header and sections, stopping after its END_DATA.
class TableReader {
 public:
  explicit TableReader(const std::vector<Line>& lines) : lines_(lines) {}

  CgatsTable read() {
    if (lines_.empty()) {
      throw at(1, "the file is empty: a CGATS file starts with its file type, such as CGATS.17");
    }
    readFileType(lines_[0]);
    bool ended = false;
    for (next_ = 1; next_ < lines_.size() && !ended;) {
      const Line& line = lines_[next_++];
      const Token& word = line.tokens[0];
      if (isWord(word, kBeginFormat)) {
        readFormat(line);
      } else if (isWord(word, kBeginData)) {
        readData(line);
        ended = true;
      } else {
        readHeaderLine(line);
      }
    }
    const std::size_t last = lines_.back().number;
    if (!formatLine_) throw at(last, "no data format: the file has no BEGIN_DATA_FORMAT section");
    if (!ended) throw at(last, "no data: the file has no BEGIN_DATA section");
    checkCount(fields_, table_.fields.size(), "the data format has", "fields");
    checkCount(sets_, table_.rows.size(), "the data has", "rows");
    return std::move(table_);
  }

 private:
  void readFileType(const Line& line) {
    const Token& type = line.tokens[0];
    if (type.quoted || !isIdentifier(type.text) || isStructureWord(type.text)) {
      throw at(line.number, "no file type (such as CGATS.17) before '" + type.text + "'");
    }
    if (line.tokens.size() > 1) {
      throw at(line.number, "the file type '" + type.text + "' is followed by '" +
                                line.tokens[1].text + "': it stands alone on its line");
    }
    table_.fileType = type.text;
  }

  void readHeaderLine(const Line& line) {
    const Token& word = line.tokens[0];
    if (word.quoted) {
      throw at(line.number,
               "a header line starts with a keyword, not the quoted \"" + word.text + "\"");
    }
    if (word.text == kEndFormat || word.text == kEndData) {
      throw at(line.number, word.text + " without the section it ends");
    }
    if (word.text == kKeyword) {
      if (line.tokens.size() != 2) throw at(line.number, "KEYWORD declares one name");
      return;
    }
    if (word.text == kNumberOfFields) {
      fields_ = countOf(line);
      return;
    }
    if (word.text == kNumberOfSets) {
      sets_ = countOf(line);
      return;
    }
    std::string value;
    for (std::size_t i = 1; i < line.tokens.size(); ++i) {
      if (i > 1) value += ' ';
      value += line.tokens[i].text;
    }
    table_.keywords.emplace_back(word.text, std::move(value));
  }

  void readFormat(const Line& begin) {
    if (formatLine_) {
      throw at(begin.number,
               "a second data format (the first is at line " + std::to_string(formatLine_) + ")");
    }
    formatLine_ = begin.number;
    for (const Line* line = &begin;; line = &lines_[next_++]) {
      for (std::size_t i = line == &begin ? 1 : 0; i < line->tokens.size(); ++i) {
        const Token& token = line->tokens[i];
        if (isWord(token, kEndFormat)) {
          if (i + 1 != line->tokens.size()) {
            throw at(line->number, "'" + line->tokens[i + 1].text + "' after END_DATA_FORMAT");
          }
          if (table_.fields.empty()) throw at(begin.number, "the data format names no fields");
          return;
        }
        if (!token.quoted && isStructureWord(token.text)) {
          throw at(line->number, token.text + " inside the data format");
        }
        if (std::find(table_.fields.begin(), table_.fields.end(), token.text) !=
            table_.fields.end()) {
          throw at(line->number, "the field " + token.text + " is named twice");
        }
        table_.fields.push_back(token.text);
      }
      if (next_ >= lines_.size())
        throw at(begin.number, "BEGIN_DATA_FORMAT has no END_DATA_FORMAT");
    }
  }

  void readData(const Line& begin) {
    if (!formatLine_) throw at(begin.number, "BEGIN_DATA before the data format");
    if (begin.tokens.size() > 1) throw at(begin.number, "BEGIN_DATA stands alone on its line");
    const std::size_t width = table_.fields.size();
    while (next_ < lines_.size()) {
      const Line& line = lines_[next_++];
      if (isWord(line.tokens[0], kEndData)) return;
      if (line.tokens.size() != width) {
        throw at(line.number, std::to_string(line.tokens.size()) +
                                  (line.tokens.size() == 1 ? " value" : " values") +
                                  ", the data format has " + std::to_string(width) + " fields");
      }
      std::vector<std::string> row;
      row.reserve(width);
      for (const auto& token : line.tokens) row.push_back(token.text);
      table_.rows.push_back(std::move(row));
    }
    throw at(begin.number, "BEGIN_DATA has no END_DATA");
  }

  static void checkCount(const std::optional<DeclaredCount>& declared, std::size_t actual,
                         const char* what, const char* unit) {
    if (!declared || declared->value == actual) return;
    throw at(declared->line, declared->name + " is " + std::to_string(declared->value) + ", " +
                                 what + " " + std::to_string(actual) + " " + unit);
  }

  const std::vector<Line>& lines_;
  std::size_t next_ = 1;
  std::size_t formatLine_ = 0;
  std::optional<DeclaredCount> fields_;
  std::optional<DeclaredCount> sets_;
  CgatsTable table_;
};

// ---- Writing -------------------------------------------------------------------------------

// The keywords CGATS.17 defines; others are declared by KEYWORD before their use.
bool standardKeyword(std::string_view name) {
  static constexpr std::string_view kStandard[] = {"ORIGINATOR",
                                                   "DESCRIPTOR",
                                                   "CREATED",
                                                   "MANUFACTURER",
                                                   "MANUFACTURE",
                                                   "PROD_DATE",
                                                   "SERIAL",
                                                   "MATERIAL",
                                                   "INSTRUMENTATION",
                                                   "MEASUREMENT_SOURCE",
                                                   "PRINT_CONDITIONS",
                                                   "SAMPLE_BACKING",
                                                   "CHISQ_DOF",
                                                   "FILTER",
                                                   "POLARIZATION",
                                                   "WEIGHTING_FUNCTION",
                                                   "COMPUTATIONAL_PARAMETER"};
  return std::find(std::begin(kStandard), std::end(kStandard), name) != std::end(kStandard);
}

void refuseLineBreak(std::string_view text, const std::string& what) {
  if (text.find_first_of("\r\n") != std::string_view::npos) {
    throw Failure(what + " holds a line break, which CGATS cannot hold");
  }
}

// A keyword or field name: one unquoted word.
void checkName(std::string_view name, const char* what) {
  if (name.empty() || name.front() == '#' ||
      name.find_first_of(" \t\r\n\f\v\"") != std::string_view::npos) {
    throw Failure(std::string(what) + " '" + std::string(name) +
                  "' is no CGATS name (one word, no quote)");
  }
}

std::string quotedText(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::string dataValue(const std::string& value) {
  const bool plain = !value.empty() && value.front() != '#' && value != kEndData &&
                     value.find_first_of(" \t\f\v\"") == std::string::npos;
  return plain ? value : quotedText(value);
}

std::string keywordLine(const std::string& name, const std::string& value) {
  checkName(name, "the keyword");
  refuseLineBreak(value, "the value of " + name);
  return name + " " + quotedText(value) + "\n";
}

std::string joined(const std::vector<std::string>& values, bool data) {
  std::string out;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += '\t';
    out += data ? dataValue(values[i]) : values[i];
  }
  return out + "\n";
}

// The system's reason for the last failure, with the path it concerns.
Failure cannotWrite(const std::filesystem::path& path, int error) {
  return Failure("cannot write '" + path.string() + "': " + std::strerror(error));
}

// A file descriptor of a new file, closed and the file removed unless it was kept.
class PendingFile {
 public:
  explicit PendingFile(std::string path) : path_(std::move(path)) {
    fd_ = ::mkstemp(path_.data());
    made_ = fd_ >= 0;
  }
  ~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (made_ && !kept_) ::unlink(path_.c_str());
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the file; false with errno set when the system refused.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void keep() { kept_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool made_ = false;
  bool kept_ = false;
};

bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

mode_t newFileMode(const std::filesystem::path& path) {
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) return existing.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// ---- Colour rows ---------------------------------------------------------------------------

const char* const kLabFields[] = {"LAB_L", "LAB_A", "LAB_B"};
const char* const kXyzFields[] = {"XYZ_X", "XYZ_Y", "XYZ_Z"};
constexpr std::string_view kSpectralPrefix = "SPECTRAL_NM_";

// A spectral column: its wavelength and whether its spelling is ArgyllCMS's SPEC_, whose values
// are percent unless SPECTRAL_NORM says otherwise.
struct Band {
  unsigned nm = 0;
  std::size_t column = 0;
  bool percent = false;
};

// The wavelength of a spectral field name (SPECTRAL_NM_560, SPECTRAL_NM560, SPEC_560, nm560;
// case ignored), or nothing.
std::optional<Band> bandOf(std::string_view field) {
  static constexpr std::pair<std::string_view, bool> kPrefixes[] = {
      {"SPECTRAL_NM_", false}, {"SPECTRAL_NM", false}, {"SPEC_", true}, {"NM", false}};
  for (const auto& [prefix, percent] : kPrefixes) {
    if (field.size() <= prefix.size() || field.size() > prefix.size() + 4) continue;
    const bool same = std::equal(prefix.begin(), prefix.end(), field.begin(), [](char a, char b) {
      return a == std::toupper(static_cast<unsigned char>(b));
    });
    if (!same) continue;
    const std::string_view digits = field.substr(prefix.size());
    unsigned nm = 0;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), nm);
    if (res.ec != std::errc() || res.ptr != digits.data() + digits.size()) return std::nullopt;
    return Band{nm, 0, percent};
  }
  return std::nullopt;
}

// The columns of the spectral fields, taken every 10 nm within the CIE tables, and the number
// their values are divided by; nothing when the table has no spectral fields.
struct SpectralColumns {
  std::vector<Band> bands;
  double norm = 1;
};

double normOf(const CgatsTable& table, bool percent) {
  const auto text = table.keyword("SPECTRAL_NORM");
  if (!text) return percent ? 100.0 : 1.0;
  double norm = 0;
  const auto res = std::from_chars(text->data(), text->data() + text->size(), norm);
  if (res.ec != std::errc() || res.ptr != text->data() + text->size() || !std::isfinite(norm) ||
      norm <= 0) {
    throw CgatsError("SPECTRAL_NORM is '" + *text + "', not a positive number");
  }
  return norm;
}

std::optional<SpectralColumns> spectralColumns(const CgatsTable& table) {
  std::vector<Band> all;
  for (std::size_t i = 0; i < table.fields.size(); ++i) {
    if (auto band = bandOf(table.fields[i])) {
      band->column = i;
      all.push_back(*band);
    }
  }
  if (all.empty()) return std::nullopt;
  std::sort(all.begin(), all.end(), [](const Band& a, const Band& b) { return a.nm < b.nm; });
  if (all.size() < 2) throw CgatsError("one spectral column is no curve");
  const unsigned step = all[1].nm - all[0].nm;
  for (std::size_t i = 1; i < all.size(); ++i) {
    if (all[i].nm == all[i - 1].nm) {
      throw CgatsError("two spectral columns for " + std::to_string(all[i].nm) + " nm");
    }
    if (all[i].nm - all[i - 1].nm != step) {
      throw CgatsError("the spectral columns are not evenly spaced (" +
                       std::to_string(all[i - 1].nm) + " nm, then " + std::to_string(all[i].nm) +
                       " nm)");
    }
  }
  if (HCFSpectralScan::kWavelengthStep % step != 0) {
    throw CgatsError("spectral columns every " + std::to_string(step) +
                     " nm: curves are integrated every 10 nm, so the columns need a step "
                     "that divides 10");
  }
  SpectralColumns out;
  for (const auto& band : all) {
    if (band.nm % HCFSpectralScan::kWavelengthStep == 0 &&
        band.nm >= HCFCieSpectralMath::cieWavelengthStart &&
        band.nm <= HCFCieSpectralMath::cieWavelengthEnd) {
      out.bands.push_back(band);
    }
  }
  if (out.bands.size() < 2) {
    throw CgatsError("the spectral columns hold fewer than two wavelengths every 10 nm within " +
                     std::to_string(HCFCieSpectralMath::cieWavelengthStart) + " to " +
                     std::to_string(HCFCieSpectralMath::cieWavelengthEnd) + " nm");
  }
  out.norm = normOf(table, all[0].percent);
  return out;
}

// A named column's value in one row, as a finite number.
class RowReader {
 public:
  RowReader(const CgatsTable& table, std::size_t row, std::string id)
      : table_(table), row_(row), id_(std::move(id)) {}

  double number(std::size_t column) const {
    const std::string& text = table_.rows[row_][column];
    double value = 0;
    const char* begin = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    const auto res = std::from_chars(begin, text.data() + text.size(), value);
    if (text.empty() || res.ec != std::errc() || res.ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
      throw error(table_.fields[column] + " is '" + text + "', not a finite number");
    }
    return value;
  }

  CgatsError error(const std::string& what) const {
    return CgatsError("row " + std::to_string(row_ + 1) + " (sample " + id_ + "): " + what);
  }

 private:
  const CgatsTable& table_;
  std::size_t row_;
  std::string id_;
};

// The columns of three fields when the table has all three, nothing when it has none of them.
std::optional<std::array<std::size_t, 3>> triple(const CgatsTable& table,
                                                 const char* const (&names)[3]) {
  std::array<std::optional<std::size_t>, 3> found;
  for (int i = 0; i < 3; ++i) found[i] = table.fieldIndex(names[i]);
  const auto present =
      std::count_if(found.begin(), found.end(), [](const auto& f) { return f.has_value(); });
  if (present == 0) return std::nullopt;
  if (present < 3) {
    throw CgatsError(std::string("the data format has only some of ") + names[0] + " " + names[1] +
                     " " + names[2]);
  }
  return std::array<std::size_t, 3>{*found[0], *found[1], *found[2]};
}

// The illuminant and observer the table's Lab and XYZ are under (D50, 2° when not said).
struct Viewing {
  HCFIlluminant illuminant = HCFIlluminant::D50;
  HCFStdObserver observer = HCFStdObserver::TwoDegree;
  bool d50TwoDegree() const {
    return illuminant == HCFIlluminant::D50 && observer == HCFStdObserver::TwoDegree;
  }
};

Viewing viewingOf(const CgatsTable& table) {
  Viewing out;
  if (const auto name = table.keyword("ILLUMINANT")) {
    const auto parsed = illuminantNamed(*name);
    if (!parsed) throw CgatsError("ILLUMINANT: " + parsed.error().localizedDescription);
    out.illuminant = *parsed;
  }
  if (const auto name = table.keyword("OBSERVER")) {
    const auto parsed = observerNamed(*name);
    if (!parsed) throw CgatsError("OBSERVER: " + parsed.error().localizedDescription);
    out.observer = *parsed;
  }
  return out;
}

HCFLabColor d50Lab(const HCFXYZColor& xyz) {
  if (xyz.illuminant == HCFIlluminant::D50 && xyz.stdObserver == HCFStdObserver::TwoDegree) {
    return xyz.toLab();
  }
  const XYZTriple d50 = CieStdMath::adapt(xyz.X, xyz.Y, xyz.Z, xyz.illuminant, xyz.stdObserver,
                                          HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  return HCFXYZColor::XYZColorWithX(d50.X, d50.Y, d50.Z, HCFIlluminant::D50).toLab();
}

std::string sampleIdOf(const CgatsTable& table, std::size_t row) {
  auto column = table.fieldIndex("SAMPLE_ID");
  if (!column) column = table.fieldIndex("SAMPLE_NAME");
  return column ? table.rows[row][*column] : std::to_string(row + 1);
}

CgatsSpectrum spectrumOf(const SpectralColumns& columns, const RowReader& row) {
  CgatsSpectrum spectrum{columns.bands.front().nm, {}};
  spectrum.reflectance.reserve(columns.bands.size());
  for (const auto& band : columns.bands) {
    spectrum.reflectance.push_back(row.number(band.column) / columns.norm);
  }
  return spectrum;
}

// The text of a number in a row: the shortest that reads back as the same value.
std::string numberText(double value, const std::string& what) {
  if (!std::isfinite(value)) throw Failure(what + " is not a finite number");
  return formatNumber(value);
}

}  // namespace

// ---- The table -----------------------------------------------------------------------------

std::optional<std::size_t> CgatsTable::fieldIndex(std::string_view name) const {
  const auto it = std::find(fields.begin(), fields.end(), name);
  if (it == fields.end()) return std::nullopt;
  return static_cast<std::size_t>(it - fields.begin());
}

std::optional<std::string> CgatsTable::keyword(std::string_view name) const {
  for (const auto& [key, value] : keywords) {
    if (key == name) return value;
  }
  return std::nullopt;
}

void CgatsTable::setKeyword(const std::string& name, const std::string& value) {
  for (auto& [key, old] : keywords) {
    if (key == name) {
      old = value;
      return;
    }
  }
  keywords.emplace_back(name, value);
}

bool looksLikeCgats(std::string_view text) {
  bool typed = false;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    while (!line.empty() && blank(line.front())) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;
    std::size_t word = 0;
    while (word < line.size() && !blank(line[word])) ++word;
    if (typed) {
      if (line.substr(0, word) == kBeginFormat) return true;
      continue;
    }
    std::string_view rest = line.substr(word);
    while (!rest.empty() && blank(rest.front())) rest.remove_prefix(1);
    if (!(rest.empty() || rest.front() == '#') || !isIdentifier(line.substr(0, word))) return false;
    typed = true;
  }
  return false;
}

CgatsTable readCgats(std::string_view text) { return TableReader(tokenize(text)).read(); }

std::string utcNowIso8601() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string cgatsText(const CgatsTable& table) {
  if (!isIdentifier(table.fileType)) {
    throw Failure("the file type '" + table.fileType + "' is no CGATS identifier");
  }
  std::string out = table.fileType + "\n";
  out += keywordLine("ORIGINATOR", table.keyword("ORIGINATOR").value_or("hcf"));
  out += keywordLine("CREATED", table.keyword("CREATED").value_or(utcNowIso8601()));
  if (const auto descriptor = table.keyword("DESCRIPTOR")) {
    out += keywordLine("DESCRIPTOR", *descriptor);
  }
  for (const auto& [name, value] : table.keywords) {
    if (name == "ORIGINATOR" || name == "CREATED" || name == "DESCRIPTOR") continue;
    if (isStructureWord(name)) throw Failure("the keyword " + name + " is the writer's to give");
    if (!standardKeyword(name)) out += std::string(kKeyword) + " " + quotedText(name) + "\n";
    out += keywordLine(name, value);
  }
  if (table.fields.empty()) throw Failure("a CGATS table needs at least one field");
  for (const auto& field : table.fields) checkName(field, "the field");
  out += std::string(kNumberOfFields) + " " + std::to_string(table.fields.size()) + "\n";
  out += std::string(kBeginFormat) + "\n" + joined(table.fields, false) + std::string(kEndFormat) +
         "\n";
  out += std::string(kNumberOfSets) + " " + std::to_string(table.rows.size()) + "\n";
  out += std::string(kBeginData) + "\n";
  for (std::size_t i = 0; i < table.rows.size(); ++i) {
    const auto& row = table.rows[i];
    if (row.size() != table.fields.size()) {
      throw Failure("row " + std::to_string(i + 1) + " has " + std::to_string(row.size()) +
                    " values for " + std::to_string(table.fields.size()) + " fields");
    }
    for (const auto& value : row) refuseLineBreak(value, "a value of row " + std::to_string(i + 1));
    out += joined(row, true);
  }
  return out + std::string(kEndData) + "\n";
}

void writeCgatsFile(const std::filesystem::path& path, const CgatsTable& table) {
  const std::string text = cgatsText(table);
  if (!path.has_filename()) throw Failure("cannot write '" + path.string() + "': no file name");
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  PendingFile file((folder / ("." + path.filename().string() + ".XXXXXX")).string());
  if (file.fd() < 0) throw cannotWrite(path, errno);
  if (::fchmod(file.fd(), newFileMode(path)) != 0 || !writeAll(file.fd(), text) ||
      ::fsync(file.fd()) != 0 || !file.close()) {
    throw cannotWrite(path, errno);
  }
  if (::rename(file.path().c_str(), path.c_str()) != 0) throw cannotWrite(path, errno);
  file.keep();
}

// ---- Colour rows ---------------------------------------------------------------------------

CgatsTable measurementTable(const std::string& descriptor, bool spectral) {
  CgatsTable table;
  table.keywords = {{"DESCRIPTOR", descriptor}, {"ILLUMINANT", "D50"}, {"OBSERVER", "2"}};
  table.fields = {"SAMPLE_ID"};
  table.fields.insert(table.fields.end(), std::begin(kLabFields), std::end(kLabFields));
  table.fields.insert(table.fields.end(), std::begin(kXyzFields), std::end(kXyzFields));
  if (!spectral) return table;
  const unsigned bands = (kCgatsSpectralEndNm - kCgatsSpectralStartNm) / kCgatsSpectralStepNm + 1;
  table.keywords.insert(table.keywords.end(),
                        {{"SPECTRAL_BANDS", std::to_string(bands)},
                         {"SPECTRAL_START_NM", std::to_string(kCgatsSpectralStartNm)},
                         {"SPECTRAL_END_NM", std::to_string(kCgatsSpectralEndNm)},
                         {"SPECTRAL_NORM", "1"}});
  for (unsigned nm = kCgatsSpectralStartNm; nm <= kCgatsSpectralEndNm; nm += kCgatsSpectralStepNm) {
    table.fields.push_back(std::string(kSpectralPrefix) + std::to_string(nm));
  }
  return table;
}

void appendScan(CgatsTable& table, const HCFColorScan& scan, const std::string& sampleId) {
  const auto lab = scan.lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50);
  if (!lab) throw Failure("scan " + sampleId + " has no Lab under D50 for the 2° observer");
  // A spectrometer's XYZ is the integral its Lab comes from; a colorimeter has only its Lab.
  const auto* spectral = dynamic_cast<const HCFSpectralScan*>(&scan);
  const auto integrated =
      spectral ? spectral->toXYZ(HCFStdObserver::TwoDegree, HCFIlluminant::D50) : std::nullopt;
  const HCFXYZColor xyz = integrated ? *integrated : lab->XYZColor();
  const auto curve = scan.spectralCurve();
  const double labValues[] = {lab->L, lab->A, lab->B};
  const double xyzValues[] = {xyz.X, xyz.Y, xyz.Z};
  std::vector<std::string> row;
  for (const auto& field : table.fields) {
    const auto what = "the " + field + " of scan " + sampleId;
    const auto inTriple = [&](const char* const(&names)[3]) {
      return std::find(std::begin(names), std::end(names), field) - std::begin(names);
    };
    if (field == "SAMPLE_ID") {
      row.push_back(sampleId);
    } else if (const auto i = inTriple(kLabFields); i < 3) {
      row.push_back(numberText(labValues[i], what));
    } else if (const auto j = inTriple(kXyzFields); j < 3) {
      row.push_back(numberText(xyzValues[j], what));
    } else if (const auto band = bandOf(field)) {
      if (!curve) {
        throw Failure("scan " + sampleId + " has no reflectance curve for " + field +
                      " (a colorimeter's scan has none)");
      }
      const auto point = std::find_if(curve->begin(), curve->end(), [&](const HCFSpectralPoint& p) {
        return p.wavelength == band->nm;
      });
      if (point == curve->end()) {
        throw Failure("scan " + sampleId + " has no reflectance at " + std::to_string(band->nm) +
                      " nm");
      }
      row.push_back(numberText(point->intensity, what));
    } else {
      throw Failure("a scan has no value for the field " + field);
    }
  }
  table.rows.push_back(std::move(row));
}

std::vector<CgatsSample> samplesFrom(const CgatsTable& table) {
  const auto lab = triple(table, kLabFields);
  const auto xyz = lab ? std::nullopt : triple(table, kXyzFields);
  const auto spectral = spectralColumns(table);
  if (!lab && !xyz && !spectral) {
    throw CgatsError(
        "no colour columns: the data format needs LAB_L LAB_A LAB_B, XYZ_X XYZ_Y XYZ_Z or "
        "spectral columns (SPECTRAL_NM_400 ...)");
  }
  const Viewing viewing = viewingOf(table);
  std::vector<CgatsSample> samples;
  samples.reserve(table.rows.size());
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    CgatsSample sample{sampleIdOf(table, r), {}, std::nullopt};
    const RowReader row(table, r, sample.id);
    if (spectral) sample.spectrum = spectrumOf(*spectral, row);
    if (lab) {
      sample.lab =
          HCFLabColor::labColorWithL(row.number((*lab)[0]), row.number((*lab)[1]),
                                     row.number((*lab)[2]), viewing.illuminant, viewing.observer);
      if (!viewing.d50TwoDegree()) sample.lab = d50Lab(sample.lab.XYZColor());
    } else if (xyz) {
      sample.lab = d50Lab(HCFXYZColor::XYZColorWithX(row.number((*xyz)[0]), row.number((*xyz)[1]),
                                                     row.number((*xyz)[2]), viewing.illuminant,
                                                     viewing.observer));
    } else {
      const auto integrated = HCFCieSpectralMath::xyzFromSpectrum(
          sample.spectrum->reflectance, sample.spectrum->startNm, HCFIlluminant::D50,
          HCFStdObserver::TwoDegree);
      if (!integrated) throw row.error(integrated.error().localizedDescription);
      sample.lab = integrated->toLab();
    }
    if (!std::isfinite(sample.lab.L) || !std::isfinite(sample.lab.A) ||
        !std::isfinite(sample.lab.B)) {
      throw row.error("its colour is not finite in Lab");
    }
    samples.push_back(std::move(sample));
  }
  return samples;
}

}  // namespace hcf_tool
