// Predicates over model and store objects: a typed tree of comparisons of key paths with
// values, AND, OR, NOT, IN, CONTAINS ignoring case and diacritics, and "some element of a list
// matches". A predicate evaluates in memory on objects that expose their key paths, renders to
// SQL with bound parameters through a schema mapping, and prints in the platform's text form.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN
/// Typed predicates over key paths: evaluated in memory, rendered to SQL with bound values, and
/// printed in the platform's text form. The product searches and stores are built on them.
namespace predicate {

/// A value a key path is compared with: null, a boolean, an integer, a real or a text.
using Value = std::variant<std::nullptr_t, bool, std::int64_t, double, std::string>;

/// How a key path's value is compared with a value: ==, !=, <, <=, >, >=. In memory, numbers
/// (booleans as 0 and 1) compare as numbers and texts by their bytes; values of different kinds
/// are unequal and never ordered. Null (a NULL column, or a key the object lacks) equals only
/// nil and is never ordered: `code == "A"` and `n < 2` are false where code or n is null, while
/// `code != "A"` holds there, being the negation of ==.
enum class Comparison { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };

/// What a predicate is evaluated on: the values of its key paths and the elements of its lists.
class HCF_API Subject {
 public:
  virtual ~Subject();
  /// The value at `keyPath`, or none when the object has no such key (which reads as null).
  virtual std::optional<Value> value(std::string_view keyPath) const = 0;
  /// The elements of the list at `keyPath` (empty for none).
  virtual std::vector<std::shared_ptr<const Subject>> elements(std::string_view keyPath) const;
};

/// A SQL condition and its parameters, in order of their "?" placeholders.
struct HCF_API SqlFragment {
  std::string sql;                ///< the condition, with a "?" for each parameter
  std::vector<Value> parameters;  ///< the values to bind, in order
};

/// How key paths map onto a SQL schema.
struct HCF_API SqlMapping {
  /// The SQL expression of a key path of the current object ("p.name", say), or none when the
  /// path is not known (the predicate then does not render).
  std::function<std::optional<std::string>(std::string_view keyPath)> column;
  /// A list key path: the SQL that selects the owners of its elements, without the condition
  /// ("SELECT f.product FROM filters f", say), the current row's key that owners are compared
  /// with ("p.id", say), and the mapping of the elements' key paths. "Some element matches"
  /// renders as "<owner> IN (<select> WHERE <condition>)": one pass over the matching elements,
  /// not a probe per row.
  struct List {
    std::string select;  ///< the SELECT of the owners, without a WHERE
    std::string owner;   ///< the current row's key the owners are compared with
    std::shared_ptr<const SqlMapping> elements;  ///< the mapping of the elements' key paths
  };
  /// The list at a key path of the current object, or none when the path is no list (the
  /// predicate then does not render).
  std::function<std::optional<List>(std::string_view keyPath)> list;
  /// A column holding the key path's text already folded (`foldCaseAndDiacritics`), if the
  /// schema keeps one; CONTAINS[cd] otherwise folds the column with the SQL function hcf_fold.
  std::function<std::optional<std::string>(std::string_view keyPath)> foldedColumn;
};

/// Folds text for CONTAINS[cd]: Unicode normalisation, case folding, and marks removed, so
/// that "RÉSÉDA" and "reseda" fold alike. Invalid UTF-8 folds to itself, unchanged.
HCF_API std::string foldCaseAndDiacritics(std::string_view text);
/// Folds case only (for case-insensitive ordering and matching).
HCF_API std::string foldCase(std::string_view text);

/// A condition on an object: an immutable tree of comparisons, IN, CONTAINS[cd], "some element
/// of a list matches", AND, OR and NOT. Cheap to copy (the tree is shared); any thread.
///
/// A predicate has one meaning in memory and in SQL, and it is two-valued: every node is true or
/// false, never unknown. A comparison with a null value is false, except `== nil` and `!= value`
/// (see Comparison); IN is true when one of its == holds (so IN {"A", nil} takes null);
/// CONTAINS[cd] is false on null; NOT negates the two-valued result, so NOT (code == "A")
/// matches the objects without a code, where SQL's own NOT would drop them.
class HCF_API Predicate {
 public:
  /// TRUEPREDICATE: every object matches.
  Predicate();

  /// TRUEPREDICATE, which every object matches.
  static Predicate truePredicate() { return Predicate(); }
  /// `keyPath op value`.
  static Predicate compare(std::string keyPath, Comparison op, Value value);
  /// `keyPath == value`.
  static Predicate equal(std::string keyPath, Value value) {
    return compare(std::move(keyPath), Comparison::Equal, std::move(value));
  }
  /// `keyPath != value`.
  static Predicate notEqual(std::string keyPath, Value value) {
    return compare(std::move(keyPath), Comparison::NotEqual, std::move(value));
  }
  /// keyPath IN {values}.
  static Predicate in(std::string keyPath, std::vector<Value> values);
  /// keyPath CONTAINS[cd] text.
  static Predicate containsCD(std::string keyPath, std::string text);
  /// All of `operands` match.
  static Predicate andOf(std::vector<Predicate> operands);
  /// At least one of `operands` matches.
  static Predicate orOf(std::vector<Predicate> operands);
  /// `operand` does not match.
  static Predicate notOf(Predicate operand);
  /// Some element of `list` matches `condition`, whose key paths are the element's (written
  /// "$variable.key" in text): SUBQUERY(list, $variable, condition).\@count > 0.
  static Predicate anyElement(std::string listKeyPath, std::string variable, Predicate condition);

  /// Whether `subject` matches. A key path the subject lacks reads as null, as a NULL column.
  bool evaluate(const Subject& subject) const;
  /// The condition in SQL, or none when a key path is not in `mapping`.
  std::optional<SqlFragment> sql(const SqlMapping& mapping) const;
  /// The platform's text form, such as
  /// SUBQUERY(filters, $filter, $filter.kvHash == "a$$b$$f").\@count > 0.
  std::string text() const;
  /// True for TRUEPREDICATE itself (not for a tree that happens to match everything).
  bool isTrue() const;

  /// One node of the tree.
  struct Node;

 private:
  explicit Predicate(std::shared_ptr<const Node> node);
  std::string textWithPrefix(const std::string& prefix) const;
  std::shared_ptr<const Node> node_;
};

}  // namespace predicate
HCF_NAMESPACE_END
