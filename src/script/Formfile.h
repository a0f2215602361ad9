// Form files as a tree of components with their published property values: the binary component
// stream (with or without its resource header) and the equivalent text form ("object ... end"
// blocks). Both read into the same tree; the tree writes back as a binary stream. No GUI here: the
// form loader turns the tree into components.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Bad form file input (truncated, unknown value type, syntax error in the text form).
class EFormFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TFormItem;

// One property value as a form file holds it.
struct TFormValue {
  enum class TKind { Null, Integer, Real, String, Ident, False, True, Set, List, Binary, Collection, Nil };
  TKind kind = TKind::Null;
  int64_t integer = 0;
  double real = 0;
  std::string text;                   // String, Ident (the identifier), Binary (the bytes)
  std::vector<std::string> idents;    // Set
  std::vector<TFormValue> items;      // List
  std::vector<TFormItem> collection;  // Collection

  static TFormValue Int(int64_t v);
  static TFormValue Str(std::string s);
  static TFormValue Ident(std::string s);
  static TFormValue Bool(bool b);
  bool IsNumber() const { return kind == TKind::Integer || kind == TKind::Real; }
};

struct TFormProperty {
  std::string name;  // dotted for nested properties ("Font.Name", "Items.Strings")
  TFormValue value;
};

// One item of a collection property.
struct TFormItem {
  bool hasIndex = false;
  int64_t index = 0;
  std::vector<TFormProperty> props;
};

struct TFormNode {
  std::string className;
  std::string name;
  int flags = 0;  // 1 inherited, 2 child position given, 4 inline
  int childPos = 0;
  std::vector<TFormProperty> props;
  std::vector<TFormNode> children;
};

// The binary stream; a leading resource header (as ".DFM" files carry it) is skipped.
TFormNode ReadFormStream(std::string_view bytes);
// The text form; raises EFormFileError "Form text line N: ..." on bad input.
TFormNode ParseFormText(std::string_view text);
// Either format, told apart by the first bytes.
TFormNode ReadFormFile(std::string_view bytes);
// Whether the bytes begin like a binary form (resource header or stream signature).
bool IsBinaryForm(std::string_view bytes);
// The binary stream of a tree, with the resource header named after the root's class.
std::string WriteFormStream(const TFormNode& root, bool withResourceHeader = true);
