#include "hcf/platform/predicate/predicate.h"

#include <utf8proc.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iterator>

HCF_NAMESPACE_BEGIN
namespace predicate {

struct Predicate::Node {
  enum class Kind { True, Compare, In, Contains, And, Or, Not, Any };
  Kind kind = Kind::True;
  std::string keyPath;
  Comparison op = Comparison::Equal;
  Value value;
  std::vector<Value> values;
  std::string text;  ///< CONTAINS[cd] needle, as given
  std::string folded;
  std::vector<Predicate> children;
  std::string variable;
};

namespace {

using Node = Predicate::Node;

bool isNull(const Value& v) { return std::holds_alternative<std::nullptr_t>(v); }

bool isNumber(const Value& v) {
  return std::holds_alternative<bool>(v) || std::holds_alternative<std::int64_t>(v) ||
         std::holds_alternative<double>(v);
}

double asDouble(const Value& v) {
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  return std::get<double>(v);
}

// -1, 0, 1, or none when the two cannot be ordered (different kinds, null, NaN).
std::optional<int> order(const Value& a, const Value& b) {
  if (isNumber(a) && isNumber(b)) {
    const auto* ia = std::get_if<std::int64_t>(&a);
    const auto* ib = std::get_if<std::int64_t>(&b);
    if (ia && ib) return *ia < *ib ? -1 : (*ia > *ib ? 1 : 0);
    const double x = asDouble(a);
    const double y = asDouble(b);
    if (std::isnan(x) || std::isnan(y)) return std::nullopt;
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  const auto* sa = std::get_if<std::string>(&a);
  const auto* sb = std::get_if<std::string>(&b);
  if (sa && sb) {
    const int c = sa->compare(*sb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  return std::nullopt;
}

// Null equals only null and is never ordered, as NULL is in SQL under "IS" and "<".
bool compareValues(const Value& a, Comparison op, const Value& b) {
  const auto o = order(a, b);
  const bool equal = isNull(a) || isNull(b) ? isNull(a) && isNull(b) : o && *o == 0;
  switch (op) {
    case Comparison::Equal:
      return equal;
    case Comparison::NotEqual:
      return !equal;
    case Comparison::Less:
      return o && *o < 0;
    case Comparison::LessOrEqual:
      return o && *o <= 0;
    case Comparison::Greater:
      return o && *o > 0;
    case Comparison::GreaterOrEqual:
      return o && *o >= 0;
  }
  return false;
}

const char* opText(Comparison op) {
  switch (op) {
    case Comparison::Equal:
      return "==";
    case Comparison::NotEqual:
      return "!=";
    case Comparison::Less:
      return "<";
    case Comparison::LessOrEqual:
      return "<=";
    case Comparison::Greater:
      return ">";
    case Comparison::GreaterOrEqual:
      return ">=";
  }
  return "==";
}

const char* opSql(Comparison op) {
  switch (op) {
    case Comparison::Equal:
      return "=";
    case Comparison::NotEqual:
      return "IS NOT";
    case Comparison::Less:
      return "<";
    case Comparison::LessOrEqual:
      return "<=";
    case Comparison::Greater:
      return ">";
    case Comparison::GreaterOrEqual:
      return ">=";
  }
  return "=";
}

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string valueText(const Value& v) {
  if (std::holds_alternative<std::nullptr_t>(v)) return "nil";
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "1" : "0";
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, *d);
    return std::string(buf, r.ptr);
  }
  return quoted(std::get<std::string>(v));
}

std::string join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
  return out;
}

}  // namespace

Subject::~Subject() = default;
std::vector<std::shared_ptr<const Subject>> Subject::elements(std::string_view) const { return {}; }

namespace {

std::string fold(std::string_view text, utf8proc_option_t options) {
  utf8proc_uint8_t* out = nullptr;
  const auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                              static_cast<utf8proc_ssize_t>(text.size()), &out, options);
  if (n < 0 || !out) {
    std::free(out);
    return std::string(text);
  }
  std::string folded(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
  std::free(out);
  return folded;
}

}  // namespace

std::string foldCaseAndDiacritics(std::string_view text) {
  return fold(text, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE |
                                                   UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK));
}

std::string foldCase(std::string_view text) {
  return fold(
      text, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD));
}

Predicate::Predicate() : node_(std::make_shared<const Node>()) {}
Predicate::Predicate(std::shared_ptr<const Node> node) : node_(std::move(node)) {}

Predicate Predicate::compare(std::string keyPath, Comparison op, Value value) {
  auto n = std::make_shared<Node>();
  n->kind = Node::Kind::Compare;
  n->keyPath = std::move(keyPath);
  n->op = op;
  n->value = std::move(value);
  return Predicate(std::move(n));
}

Predicate Predicate::in(std::string keyPath, std::vector<Value> values) {
  auto n = std::make_shared<Node>();
  n->kind = Node::Kind::In;
  n->keyPath = std::move(keyPath);
  n->values = std::move(values);
  return Predicate(std::move(n));
}

Predicate Predicate::containsCD(std::string keyPath, std::string text) {
  auto n = std::make_shared<Node>();
  n->kind = Node::Kind::Contains;
  n->keyPath = std::move(keyPath);
  n->folded = foldCaseAndDiacritics(text);
  n->text = std::move(text);
  return Predicate(std::move(n));
}

Predicate Predicate::andOf(std::vector<Predicate> operands) {
  auto n = std::make_shared<Node>();
  n->kind = Node::Kind::And;
  n->children = std::move(operands);
  return Predicate(std::move(n));
}

Predicate Predicate::orOf(std::vector<Predicate> operands) {
  auto n = std::make_shared<Node>();
  n->kind = Node::Kind::Or;
  n->children = std::move(operands);
  return Predicate(std::move(n));
}

Predicate Predicate::notOf(Predicate operand) {
  auto n = std::make_shared<Node>();
  n->kind = Node::Kind::Not;
  n->children = {std::move(operand)};
  return Predicate(std::move(n));
}

Predicate Predicate::anyElement(std::string listKeyPath, std::string variable,
                                Predicate condition) {
  auto n = std::make_shared<Node>();
  n->kind = Node::Kind::Any;
  n->keyPath = std::move(listKeyPath);
  n->variable = std::move(variable);
  n->children = {std::move(condition)};
  return Predicate(std::move(n));
}

bool Predicate::isTrue() const { return node_->kind == Node::Kind::True; }

bool Predicate::evaluate(const Subject& subject) const {
  const Node& n = *node_;
  switch (n.kind) {
    case Node::Kind::True:
      return true;
    case Node::Kind::Compare:
      // A key the subject lacks reads as null, as its column would in SQL.
      return compareValues(subject.value(n.keyPath).value_or(nullptr), n.op, n.value);
    case Node::Kind::In: {
      const Value v = subject.value(n.keyPath).value_or(nullptr);
      for (const auto& candidate : n.values) {
        if (compareValues(v, Comparison::Equal, candidate)) return true;
      }
      return false;
    }
    case Node::Kind::Contains: {
      const auto v = subject.value(n.keyPath);
      const auto* s = v ? std::get_if<std::string>(&*v) : nullptr;
      if (!s || n.folded.empty()) return false;
      return foldCaseAndDiacritics(*s).find(n.folded) != std::string::npos;
    }
    case Node::Kind::And:
      for (const auto& c : n.children) {
        if (!c.evaluate(subject)) return false;
      }
      return true;
    case Node::Kind::Or:
      for (const auto& c : n.children) {
        if (c.evaluate(subject)) return true;
      }
      return false;
    case Node::Kind::Not:
      return !n.children[0].evaluate(subject);
    case Node::Kind::Any:
      for (const auto& element : subject.elements(n.keyPath)) {
        if (element && n.children[0].evaluate(*element)) return true;
      }
      return false;
  }
  return false;
}

std::string Predicate::text() const { return textWithPrefix(""); }

std::string Predicate::textWithPrefix(const std::string& prefix) const {
  const Node& n = *node_;
  const auto operand = [&](const Predicate& c) {
    const auto kind = c.node_->kind;
    const std::string t = c.textWithPrefix(prefix);
    return kind == Node::Kind::And || kind == Node::Kind::Or ? "(" + t + ")" : t;
  };
  switch (n.kind) {
    case Node::Kind::True:
      return "TRUEPREDICATE";
    case Node::Kind::Compare:
      return prefix + n.keyPath + " " + opText(n.op) + " " + valueText(n.value);
    case Node::Kind::In: {
      std::vector<std::string> parts;
      for (const auto& v : n.values) parts.push_back(valueText(v));
      return prefix + n.keyPath + " IN {" + join(parts, ", ") + "}";
    }
    case Node::Kind::Contains:
      return prefix + n.keyPath + " CONTAINS[cd] " + quoted(n.text);
    case Node::Kind::And:
    case Node::Kind::Or: {
      if (n.children.empty()) return n.kind == Node::Kind::And ? "TRUEPREDICATE" : "FALSEPREDICATE";
      std::vector<std::string> parts;
      for (const auto& c : n.children) parts.push_back(operand(c));
      return join(parts, n.kind == Node::Kind::And ? " AND " : " OR ");
    }
    case Node::Kind::Not:
      return "NOT (" + n.children[0].textWithPrefix(prefix) + ")";
    case Node::Kind::Any:
      return "SUBQUERY(" + prefix + n.keyPath + ", $" + n.variable + ", " +
             n.children[0].textWithPrefix("$" + n.variable + ".") + ").@count > 0";
  }
  return "";
}

std::optional<SqlFragment> Predicate::sql(const SqlMapping& mapping) const {
  const Node& n = *node_;
  const auto column = [&]() -> std::optional<std::string> {
    return mapping.column ? mapping.column(n.keyPath) : std::nullopt;
  };
  switch (n.kind) {
    case Node::Kind::True:
      return SqlFragment{"1", {}};
    case Node::Kind::Compare: {
      const auto col = column();
      if (!col) return std::nullopt;
      if (std::holds_alternative<std::nullptr_t>(n.value)) {
        if (n.op == Comparison::Equal) return SqlFragment{*col + " IS NULL", {}};
        if (n.op == Comparison::NotEqual) return SqlFragment{*col + " IS NOT NULL", {}};
        return SqlFragment{"0", {}};
      }
      return SqlFragment{*col + " " + opSql(n.op) + " ?", {n.value}};
    }
    case Node::Kind::In: {
      const auto col = column();
      if (!col) return std::nullopt;
      // NULL IN (NULL) is NULL: a nil among the values becomes "IS NULL" beside the list.
      SqlFragment out;
      std::copy_if(n.values.begin(), n.values.end(), std::back_inserter(out.parameters),
                   [](const Value& v) { return !isNull(v); });
      const bool orNull = out.parameters.size() < n.values.size();
      std::vector<std::string> parts;
      if (!out.parameters.empty()) {
        const std::vector<std::string> marks(out.parameters.size(), "?");
        parts.push_back(*col + " IN (" + join(marks, ", ") + ")");
      }
      if (orNull) parts.push_back(*col + " IS NULL");
      out.sql = parts.empty()       ? "0"
                : parts.size() == 1 ? parts[0]
                                    : "(" + join(parts, " OR ") + ")";
      return out;
    }
    case Node::Kind::Contains: {
      if (n.folded.empty()) return SqlFragment{"0", {}};
      if (mapping.foldedColumn) {
        if (auto folded = mapping.foldedColumn(n.keyPath)) {
          return SqlFragment{"instr(" + *folded + ", ?) > 0", {n.folded}};
        }
      }
      const auto col = column();
      if (!col) return std::nullopt;
      return SqlFragment{"instr(hcf_fold(" + *col + "), ?) > 0", {n.folded}};
    }
    case Node::Kind::And:
    case Node::Kind::Or: {
      const bool isAnd = n.kind == Node::Kind::And;
      if (n.children.empty()) return SqlFragment{isAnd ? "1" : "0", {}};
      SqlFragment out;
      std::vector<std::string> parts;
      for (const auto& c : n.children) {
        auto f = c.sql(mapping);
        if (!f) return std::nullopt;
        parts.push_back("(" + f->sql + ")");
        out.parameters.insert(out.parameters.end(), f->parameters.begin(), f->parameters.end());
      }
      out.sql = join(parts, isAnd ? " AND " : " OR ");
      return out;
    }
    case Node::Kind::Not: {
      auto f = n.children[0].sql(mapping);
      if (!f) return std::nullopt;
      // The operand is NULL where it compares a NULL column; "IS NOT 1" counts that as false
      // before negating, as evaluate() does, where "NOT" would leave it NULL and drop the row.
      f->sql = "(" + f->sql + ") IS NOT 1";
      return f;
    }
    case Node::Kind::Any: {
      const auto list = mapping.list ? mapping.list(n.keyPath) : std::nullopt;
      if (!list || !list->elements) return std::nullopt;
      auto f = n.children[0].sql(*list->elements);
      if (!f) return std::nullopt;
      f->sql = list->owner + " IN (" + list->select + " WHERE (" + f->sql + "))";
      return f;
    }
  }
  return std::nullopt;
}

}  // namespace predicate
HCF_NAMESPACE_END
