// Predicates: in memory, as text, and as SQL run by SQLite with bound parameters.
#include "hcf/platform/predicate/predicate.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

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

TEST(Predicate, RendersToSqlWithBoundParametersOnly) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  const char* schema =
      "CREATE TABLE p(id INTEGER PRIMARY KEY, name TEXT, hue REAL, insp INTEGER);"
      "CREATE TABLE f(product INTEGER, kvHash TEXT);"
      "INSERT INTO p VALUES (1, 'Réséda', 120.5, 0), (2, 'Ocean', 210, 0), (3, 'x'' OR 1=1', 5, 1);"
      "INSERT INTO f VALUES (1, 'finish$$matte$$f'), (1, 'vendor$$Acme$$f'), (2, "
      "'finish$$gloss$$f');";
  ASSERT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_create_function(
      db, "hcf_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
      [](sqlite3_context* ctx, int, sqlite3_value** argv) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        const std::string folded = foldCaseAndDiacritics(t ? t : "");
        sqlite3_result_text(ctx, folded.c_str(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
      },
      nullptr, nullptr);

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
  const auto ids = [&](const Predicate& pred) {
    auto f = pred.sql(products);
    EXPECT_TRUE(f) << pred.text();
    std::vector<int> out;
    if (!f) return out;
    sqlite3_stmt* st = nullptr;
    const std::string q = "SELECT p.id FROM p WHERE " + f->sql + " ORDER BY p.id";
    EXPECT_EQ(sqlite3_prepare_v2(db, q.c_str(), -1, &st, nullptr), SQLITE_OK) << q;
    for (std::size_t i = 0; i < f->parameters.size(); ++i) {
      const int at = static_cast<int>(i + 1);
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
          f->parameters[i]);
    }
    while (sqlite3_step(st) == SQLITE_ROW) out.push_back(sqlite3_column_int(st, 0));
    sqlite3_finalize(st);
    return out;
  };
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
  sqlite3_close(db);
}
