// Predicates: in memory, as text, and as SQL run by SQLite with bound parameters.
#include "hcf/platform/predicate/predicate.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>

using namespace hcf::predicate;

namespace {

// A product-like object: scalar keys and a list of filter pairs.
struct Item : Subject {
  std::map<std::string, Value, std::less<>> values;
  std::vector<std::shared_ptr<const Subject>> filters;
  std::optional<Value> value(std::string_view keyPath) const override {
    const auto it = values.find(keyPath);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  std::vector<std::shared_ptr<const Subject>> elements(std::string_view keyPath) const override {
    return keyPath == "filters" ? filters : std::vector<std::shared_ptr<const Subject>>{};
  }
};

std::shared_ptr<Item> item(std::string name, double hue, std::vector<std::string> hashes) {
  auto i = std::make_shared<Item>();
  i->values = {{"name", name}, {"hue", hue}, {"isInspiration", false}};
  for (auto& h : hashes) {
    auto f = std::make_shared<Item>();
    f->values = {{"kvHash", h}};
    i->filters.push_back(f);
  }
  return i;
}

Predicate filter(const std::string& hash) {
  return Predicate::anyElement("filters", "filter", Predicate::equal("kvHash", hash));
}

}  // namespace

TEST(Predicate, EvaluatesComparisonsListsAndCompounds) {
  const auto a = item("Réséda", 120.5, {"finish$$matte$$f", "vendor$$Acme$$f"});
  const auto b = item("Ocean", 210, {"finish$$gloss$$f"});
  const auto matte = filter("finish$$matte$$f");
  EXPECT_TRUE(matte.evaluate(*a));
  EXPECT_FALSE(matte.evaluate(*b));
  const auto either = Predicate::orOf({matte, filter("finish$$gloss$$f")});
  EXPECT_TRUE(either.evaluate(*b));
  const auto both = Predicate::andOf({either, filter("vendor$$Acme$$f")});
  EXPECT_TRUE(both.evaluate(*a));
  EXPECT_FALSE(both.evaluate(*b));
  EXPECT_TRUE(Predicate::andOf({}).evaluate(*b));  // an AND of nothing: everything
  EXPECT_FALSE(Predicate::orOf({}).evaluate(*b));

  EXPECT_TRUE(Predicate::compare("hue", Comparison::Less, std::int64_t{121}).evaluate(*a));
  EXPECT_FALSE(Predicate::compare("hue", Comparison::Greater, 120.5).evaluate(*a));
  EXPECT_TRUE(Predicate::equal("isInspiration", false).evaluate(*a));
  EXPECT_TRUE(Predicate::notEqual("name", "Ocean").evaluate(*a));
  EXPECT_FALSE(Predicate::equal("missing", "x").evaluate(*a));  // no such key: no match
  EXPECT_TRUE(Predicate::notOf(Predicate::equal("missing", "x")).evaluate(*a));
  EXPECT_TRUE(Predicate::in("name", {"Ocean", "Sky"}).evaluate(*b));
  EXPECT_FALSE(Predicate::in("name", {}).evaluate(*b));
  EXPECT_FALSE(Predicate::equal("hue", "210").evaluate(*b));  // a text is not a number

  // CONTAINS[cd] folds case and diacritics on both sides.
  EXPECT_TRUE(Predicate::containsCD("name", "Ré").evaluate(*a));
  EXPECT_TRUE(Predicate::containsCD("name", "re").evaluate(*a));
  EXPECT_TRUE(Predicate::containsCD("name", "RESEDA").evaluate(*a));
  EXPECT_FALSE(Predicate::containsCD("name", "").evaluate(*a));
  EXPECT_EQ(foldCaseAndDiacritics("RÉSÉDA Straße"), "reseda strasse");
  EXPECT_EQ(foldCaseAndDiacritics("\xff\xfe bad"), "\xff\xfe bad");
}

TEST(Predicate, PrintsThePlatformTextForm) {
  EXPECT_EQ(filter("finish$$matte$$f").text(),
            R"(SUBQUERY(filters, $filter, $filter.kvHash == "finish$$matte$$f").@count > 0)");
  EXPECT_EQ(Predicate::andOf({Predicate::notEqual("batch", "adjusted"),
                              Predicate::equal("lab.illuminant", std::int64_t{1})})
                .text(),
            R"(batch != "adjusted" AND lab.illuminant == 1)");
  EXPECT_EQ(Predicate::notOf(Predicate::in("key", {"a", "b\"c"})).text(),
            R"(NOT (key IN {"a", "b\"c"}))");
  EXPECT_EQ(Predicate::orOf({Predicate::equal("isInspiration", true),
                             Predicate::andOf({Predicate::equal("x", 1.5),
                                               Predicate::containsCD("name", "Ré")})})
                .text(),
            R"(isInspiration == 1 OR (x == 1.5 AND name CONTAINS[cd] "Ré"))");
  EXPECT_EQ(Predicate().text(), "TRUEPREDICATE");
}

namespace {

// An in-memory database with the kit's hcf_fold, closed on scope exit.
struct Db {
  sqlite3* handle = nullptr;
  Db() {
    EXPECT_EQ(sqlite3_open(":memory:", &handle), SQLITE_OK);
    sqlite3_create_function(
        handle, "hcf_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
        [](sqlite3_context* ctx, int, sqlite3_value** argv) {
          const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
          const std::string folded = foldCaseAndDiacritics(t ? t : "");
          sqlite3_result_text(ctx, folded.c_str(), static_cast<int>(folded.size()),
                              SQLITE_TRANSIENT);
        },
        nullptr, nullptr);
  }
  ~Db() { sqlite3_close(handle); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  sqlite3_stmt* prepare(const std::string& sql) const {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(handle, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    return st;
  }
};

void bindValue(sqlite3_stmt* st, int at, const Value& value) {
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::nullptr_t>)
          sqlite3_bind_null(st, at);
        else if constexpr (std::is_same_v<T, bool>)
          sqlite3_bind_int(st, at, v ? 1 : 0);
        else if constexpr (std::is_same_v<T, std::int64_t>)
          sqlite3_bind_int64(st, at, v);
        else if constexpr (std::is_same_v<T, double>)
          sqlite3_bind_double(st, at, v);
        else
          sqlite3_bind_text(st, at, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
      },
      value);
}

// The ids of the rows of p that `pred` selects through SQL, in order.
std::vector<int> sqlIds(const Db& db, const SqlMapping& mapping, const Predicate& pred) {
  auto f = pred.sql(mapping);
  EXPECT_TRUE(f) << pred.text();
  std::vector<int> out;
  if (!f) return out;
  sqlite3_stmt* st = db.prepare("SELECT p.id FROM p WHERE " + f->sql + " ORDER BY p.id");
  for (std::size_t i = 0; i < f->parameters.size(); ++i) {
    bindValue(st, static_cast<int>(i + 1), f->parameters[i]);
  }
  while (sqlite3_step(st) == SQLITE_ROW) out.push_back(sqlite3_column_int(st, 0));
  sqlite3_finalize(st);
  return out;
}

}  // namespace

TEST(Predicate, RendersToSqlWithBoundParametersOnly) {
  const Db db;
  const char* schema =
      "CREATE TABLE p(id INTEGER PRIMARY KEY, name TEXT, hue REAL, insp INTEGER);"
      "CREATE TABLE f(product INTEGER, kvHash TEXT);"
      "INSERT INTO p VALUES (1, 'Réséda', 120.5, 0), (2, 'Ocean', 210, 0), (3, 'x'' OR 1=1', 5, 1);"
      "INSERT INTO f VALUES (1, 'finish$$matte$$f'), (1, 'vendor$$Acme$$f'), (2, "
      "'finish$$gloss$$f');";
  ASSERT_EQ(sqlite3_exec(db.handle, schema, nullptr, nullptr, nullptr), SQLITE_OK);

  auto filters = std::make_shared<SqlMapping>();
  filters->column = [](std::string_view k) -> std::optional<std::string> {
    if (k == "kvHash") return "f.kvHash";
    return std::nullopt;
  };
  SqlMapping products;
  products.column = [](std::string_view k) -> std::optional<std::string> {
    if (k == "name") return "p.name";
    if (k == "hue") return "p.hue";
    if (k == "isInspiration") return "p.insp";
    return std::nullopt;
  };
  products.list = [filters](std::string_view k) -> std::optional<SqlMapping::List> {
    if (k != "filters") return std::nullopt;
    return SqlMapping::List{"SELECT f.product FROM f", "p.id", filters};
  };
  const auto ids = [&](const Predicate& pred) { return sqlIds(db, products, pred); };
  EXPECT_EQ(ids(filter("finish$$matte$$f")), (std::vector<int>{1}));
  EXPECT_EQ(ids(Predicate::orOf({filter("finish$$matte$$f"), filter("finish$$gloss$$f")})),
            (std::vector<int>{1, 2}));
  EXPECT_EQ(ids(Predicate::containsCD("name", "RESE")), (std::vector<int>{1}));
  // A caller's text is a parameter, never SQL.
  EXPECT_EQ(ids(Predicate::equal("name", "x' OR 1=1")), (std::vector<int>{3}));
  EXPECT_EQ(ids(Predicate::equal("name", "' OR '1'='1")), (std::vector<int>{}));
  EXPECT_EQ(ids(Predicate::equal("isInspiration", false)), (std::vector<int>{1, 2}));
  EXPECT_EQ(ids(Predicate::notOf(Predicate::in("name", {"Ocean"}))), (std::vector<int>{1, 3}));
  EXPECT_EQ(ids(Predicate::compare("hue", Comparison::GreaterOrEqual, std::int64_t{120})),
            (std::vector<int>{1, 2}));
  EXPECT_EQ(ids(Predicate()), (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(Predicate::equal("unknownKey", 1.0).sql(products));
}

// Every form of predicate selects the same rows in memory and through SQL, on rows where values
// are null or missing: a comparison with null is false (only `== nil` and `!= value` hold), IN is
// a run of ==, and NOT negates that two-valued result, so NOT (code == "A") keeps the rows
// without a code. Each row of the table is checked as given and negated.
TEST(Predicate, MeansTheSameInMemoryAndInSqlOnNulls) {
  // Rows 3 and 4 have no code, n, x or kvHash: row 3 holds nulls, row 4 lacks the keys; both
  // are NULL columns in SQL. Row 2's second filter has a null kvHash, row 4's lacks one.
  struct Row {
    int id;
    std::map<std::string, Value, std::less<>> values;
    std::vector<std::map<std::string, Value, std::less<>>> filters;
  };
  const std::vector<Row> rows = {
      {1, {{"code", "A"}, {"n", std::int64_t{1}}, {"x", 0.5}}, {{{"kvHash", "h1"}}}},
      {2,
       {{"code", "B"}, {"n", std::int64_t{2}}, {"x", 2.5}},
       {{{"kvHash", "h2"}}, {{"kvHash", nullptr}}}},
      {3, {{"code", nullptr}, {"n", nullptr}, {"x", nullptr}}, {}},
      {4, {}, {{}}},
      {5, {{"code", "Ä"}, {"n", std::int64_t{3}}, {"x", -1.0}}, {}},
  };
  const Db db;
  ASSERT_EQ(sqlite3_exec(db.handle,
                         "CREATE TABLE p(id INTEGER PRIMARY KEY, code TEXT, n INTEGER, x REAL);"
                         "CREATE TABLE f(product INTEGER, kvHash TEXT);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::vector<std::shared_ptr<const Item>> items;
  for (const auto& row : rows) {
    auto it = std::make_shared<Item>();
    it->values = row.values;
    const auto column = [&](const char* key) {
      const auto found = row.values.find(key);
      return found == row.values.end() ? Value(nullptr) : found->second;
    };
    sqlite3_stmt* st = db.prepare("INSERT INTO p VALUES (?, ?, ?, ?)");
    bindValue(st, 1, std::int64_t{row.id});
    bindValue(st, 2, column("code"));
    bindValue(st, 3, column("n"));
    bindValue(st, 4, column("x"));
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
    sqlite3_finalize(st);
    for (const auto& filter : row.filters) {
      auto element = std::make_shared<Item>();
      element->values = filter;
      it->filters.push_back(element);
      const auto hash = filter.find("kvHash");
      st = db.prepare("INSERT INTO f VALUES (?, ?)");
      bindValue(st, 1, std::int64_t{row.id});
      bindValue(st, 2, hash == filter.end() ? Value(nullptr) : hash->second);
      EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
      sqlite3_finalize(st);
    }
    items.push_back(it);
  }
  auto filterColumns = std::make_shared<SqlMapping>();
  filterColumns->column = [](std::string_view k) -> std::optional<std::string> {
    if (k == "kvHash") return "f.kvHash";
    return std::nullopt;
  };
  SqlMapping mapping;
  mapping.column = [](std::string_view k) -> std::optional<std::string> {
    if (k == "code" || k == "n" || k == "x") return "p." + std::string(k);
    return std::nullopt;
  };
  mapping.list = [filterColumns](std::string_view k) -> std::optional<SqlMapping::List> {
    if (k != "filters") return std::nullopt;
    return SqlMapping::List{"SELECT f.product FROM f", "p.id", filterColumns};
  };

  using C = Comparison;
  const auto cmp = [](const char* key, C op, Value v) { return Predicate::compare(key, op, v); };
  const auto anyHash = [](Predicate condition) {
    return Predicate::anyElement("filters", "filter", std::move(condition));
  };
  const struct {
    Predicate predicate;
    std::vector<int> ids;  // the rows it selects; its negation selects the others
  } cases[] = {
      {cmp("code", C::Equal, "A"), {1}},
      {cmp("code", C::NotEqual, "A"), {2, 3, 4, 5}},
      {cmp("n", C::Less, std::int64_t{2}), {1}},
      {cmp("n", C::LessOrEqual, std::int64_t{2}), {1, 2}},
      {cmp("n", C::Greater, std::int64_t{2}), {5}},
      {cmp("n", C::GreaterOrEqual, std::int64_t{2}), {2, 5}},
      {cmp("n", C::Equal, 2.0), {2}},
      {cmp("x", C::Greater, 0.5), {2}},
      {cmp("x", C::LessOrEqual, true), {1, 5}},
      {cmp("code", C::Equal, nullptr), {3, 4}},
      {cmp("code", C::NotEqual, nullptr), {1, 2, 5}},
      {cmp("n", C::LessOrEqual, nullptr), {}},
      {cmp("n", C::GreaterOrEqual, nullptr), {}},
      {Predicate::in("code", {"A", "B"}), {1, 2}},
      {Predicate::in("code", {"A", nullptr}), {1, 3, 4}},
      {Predicate::in("n", {nullptr}), {3, 4}},
      {Predicate::in("code", {}), {}},
      {Predicate::containsCD("code", "a"), {1, 5}},
      {Predicate::containsCD("code", ""), {}},
      {Predicate::andOf({cmp("code", C::NotEqual, "A"), cmp("n", C::Less, std::int64_t{3})}), {2}},
      {Predicate::orOf({cmp("code", C::Equal, "A"), cmp("n", C::Greater, std::int64_t{2})}),
       {1, 5}},
      {Predicate::orOf(
           {cmp("code", C::Equal, "B"), Predicate::notOf(cmp("n", C::Less, std::int64_t{3}))}),
       {2, 3, 4, 5}},
      {Predicate::andOf({}), {1, 2, 3, 4, 5}},
      {Predicate::orOf({}), {}},
      {anyHash(cmp("kvHash", C::Equal, "h1")), {1}},
      {anyHash(cmp("kvHash", C::NotEqual, "h1")), {2, 4}},
      {anyHash(Predicate::notOf(cmp("kvHash", C::Equal, "h2"))), {1, 2, 4}},
      {anyHash(cmp("kvHash", C::Equal, nullptr)), {2, 4}},
  };
  const auto inMemory = [&](const Predicate& pred) {
    std::vector<int> out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (pred.evaluate(*items[i])) out.push_back(rows[i].id);
    }
    return out;
  };
  for (const auto& c : cases) {
    std::vector<int> others;
    for (const auto& row : rows) {
      if (std::find(c.ids.begin(), c.ids.end(), row.id) == c.ids.end()) others.push_back(row.id);
    }
    const auto negated = Predicate::notOf(c.predicate);
    EXPECT_EQ(inMemory(c.predicate), c.ids) << c.predicate.text();
    EXPECT_EQ(sqlIds(db, mapping, c.predicate), c.ids) << c.predicate.text();
    EXPECT_EQ(inMemory(negated), others) << negated.text();
    EXPECT_EQ(sqlIds(db, mapping, negated), others) << negated.text();
  }
}
