// Filling the package texts' templates (pack/packages/templates/, compiled
// into the packer as pack/packages/templates.h): each `@NAME@` placeholder
// takes a value escaped for the text's format, so that no value can change
// what the text means. No file system.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pack/core/error.h"

namespace vorlane::packages {

/// How a template's values are escaped, by the kind of text it makes.
enum class TextFormat {
  kShell,    ///< sh: each value single-quoted
  kRpmSpec,  ///< an RPM spec: each '%' doubled, as rpmbuild expands macros anywhere
  kDesktop,  ///< a desktop entry: its string escapes (desktop_escape)
  kXml,      ///< XML: & < > " and ' as entities
};

/// What a placeholder is filled with.
class Value {
 public:
  enum class Kind { kText, kWords, kLines, kFragment, kComment };

  /// One value, escaped for the format.
  static Value text(std::string value);
  /// Values, each escaped, separated by spaces; none takes the space before
  /// the placeholder with it.
  static Value words(std::vector<std::string> values);
  /// The placeholder's line once for each value (escaped); none drops the line.
  static Value lines(std::vector<std::string> values);
  /// A text in the template's own format (another template, filled), put in
  /// as it is. Alone on its line it takes the line's indentation on each of
  /// its lines, and drops the line when empty.
  static Value fragment(std::string text);
  /// A checked word in a comment, where nothing but a line break could
  /// change the meaning: put in as it is, each line break as a space.
  static Value comment(std::string value);

  Kind kind() const { return kind_; }
  const std::vector<std::string>& values() const { return values_; }

 private:
  Value(Kind kind, std::vector<std::string> values) : kind_(kind), values_(std::move(values)) {}
  Kind kind_;
  std::vector<std::string> values_;
};

struct Field {
  std::string_view name;  ///< NAME of `@NAME@`
  Value value;
};

/// The placeholder names in `text` (`@NAME@`: a capital letter, then
/// capitals, digits and '_'), in order of first use, each once.
std::vector<std::string> template_placeholders(std::string_view text);

/// `text` with its placeholders filled from `fields`, line by line. A value
/// alone on its line (after blanks) is a block: its final line break is the
/// line's own. Refuses a placeholder no field fills, a field no placeholder
/// takes, and a line with two `lines` values.
Result<std::string> fill_template(std::string_view text, TextFormat format,
                                  const std::vector<Field>& fields);

/// A compiled-in template (a struct of pack/packages/templates.h) filled.
/// Its members give each placeholder one value, or the build fails, so the
/// fill cannot fail short of a template with two `lines` values on one line,
/// which the tests of its texts find.
template <class Template>
std::string fill(const Template& values) {
  Result<std::string> text = fill_template(Template::kText, Template::kFormat, values.fields());
  return text ? std::move(*text) : std::string();
}

/// `text` escaped as one value of `format`.
std::string escape_value(TextFormat format, const std::string& text);

/// `text` in single quotes for sh.
std::string shell_quote(const std::string& text);

/// `text` for an RPM spec, where rpmbuild expands macros: each '%' doubled.
std::string rpm_escape(const std::string& text);

/// `text` as a desktop entry's string value: backslash, tab, line breaks and
/// the leading space escaped (\\, \t, \n, \r, \s).
std::string desktop_escape(const std::string& text);

}  // namespace vorlane::packages
