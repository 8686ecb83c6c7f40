#include "pack/packages/template_fill.h"

#include <algorithm>

#include "pack/core/strings.h"

namespace vorlane::packages {
namespace {

bool is_capital(char c) { return c >= 'A' && c <= 'Z'; }
bool is_name_char(char c) { return is_capital(c) || (c >= '0' && c <= '9') || c == '_'; }

/// The length of the placeholder `@NAME@` at `at` in `line`, or 0.
std::size_t placeholder_at(std::string_view line, std::size_t at) {
  if (line[at] != '@' || at + 1 >= line.size() || !is_capital(line[at + 1])) return 0;
  std::size_t end = at + 2;
  while (end < line.size() && is_name_char(line[end])) ++end;
  return end < line.size() && line[end] == '@' ? end + 1 - at : 0;
}

/// The value of the placeholder `name`, which the caller checked is there.
const Value& value_of(const std::vector<Field>& fields, std::string_view name) {
  return std::find_if(fields.begin(), fields.end(), [&](const Field& f) { return f.name == name; })
      ->value;
}

std::string join_words(TextFormat format, const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values)
    out.append(out.empty() ? "" : " ").append(escape_value(format, v));
  return out;
}

std::string without_final_break(std::string text) {
  if (text.ends_with("\n")) text.pop_back();
  return text;
}

/// `text` with `indent` after each of its line breaks, but before no empty line.
std::string indented(const std::string& text, std::string_view indent) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] != '\n') out += indent;
  }
  return out;
}

/// `line` (without its line break) with its placeholders filled; a `lines`
/// value there takes `element`.
std::string fill_line(std::string_view line, TextFormat format, const std::vector<Field>& fields,
                      const std::string& element) {
  std::string out;
  for (std::size_t i = 0; i < line.size();) {
    const std::size_t n = placeholder_at(line, i);
    if (n == 0) {
      out += line[i++];
      continue;
    }
    const std::string_view name = line.substr(i + 1, n - 2);
    i += n;
    const Value& v = value_of(fields, name);
    switch (v.kind()) {
      case Value::Kind::kText:
        out += escape_value(format, v.values().front());
        break;
      case Value::Kind::kWords:
        if (v.values().empty() && out.ends_with(" ")) out.pop_back();
        out += join_words(format, v.values());
        break;
      case Value::Kind::kLines:
        out += escape_value(format, element);
        break;
      case Value::Kind::kFragment:
        out += v.values().front();
        break;
      case Value::Kind::kComment:
        for (char c : v.values().front()) out += c == '\n' || c == '\r' ? ' ' : c;
        break;
    }
  }
  return out;
}

}  // namespace

Value Value::text(std::string value) { return {Kind::kText, {std::move(value)}}; }
Value Value::words(std::vector<std::string> values) { return {Kind::kWords, std::move(values)}; }
Value Value::lines(std::vector<std::string> values) { return {Kind::kLines, std::move(values)}; }
Value Value::fragment(std::string text) { return {Kind::kFragment, {std::move(text)}}; }
Value Value::comment(std::string value) { return {Kind::kComment, {std::move(value)}}; }

std::vector<std::string> template_placeholders(std::string_view text) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = placeholder_at(text, i);
    if (n == 0) {
      ++i;
      continue;
    }
    std::string name(text.substr(i + 1, n - 2));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    i += n;
  }
  return names;
}

Result<std::string> fill_template(std::string_view text, TextFormat format,
                                  const std::vector<Field>& fields) {
  const std::vector<std::string> names = template_placeholders(text);
  for (const std::string& name : names) {
    if (std::none_of(fields.begin(), fields.end(),
                     [&](const Field& f) { return f.name == name; })) {
      return step_failed("the template's placeholder @" + name + "@ has no value");
    }
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string name(fields[i].name);
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      return step_failed("the template has no placeholder @" + name + "@ for its value");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (fields[j].name == name) return step_failed("two values for @" + name + "@");
    }
  }
  std::string out;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    const std::string_view brk = end < text.size() ? "\n" : "";
    start = end + 1;
    const Value* repeated = nullptr;
    for (const std::string& name : template_placeholders(line)) {
      const Value& v = value_of(fields, name);
      if (v.kind() != Value::Kind::kLines) continue;
      if (repeated != nullptr)
        return step_failed("two line lists on the line '" + std::string(line) + "'");
      repeated = &v;
    }
    const std::size_t blanks = line.find_first_not_of(" \t");
    const bool alone =
        blanks != std::string_view::npos && placeholder_at(line, blanks) == line.size() - blanks;
    if (repeated != nullptr) {
      for (const std::string& element : repeated->values()) {
        out.append(fill_line(line, format, fields, element)).append(brk);
      }
    } else if (alone) {
      const std::string_view indent = line.substr(0, blanks);
      const Value& v = value_of(fields, line.substr(blanks + 1, line.size() - blanks - 2));
      if (v.kind() == Value::Kind::kFragment) {
        if (v.values().front().empty()) continue;
        out.append(indent).append(indented(without_final_break(v.values().front()), indent));
      } else {
        out.append(without_final_break(fill_line(line, format, fields, "")));
      }
      out.append(brk);
    } else {
      out.append(fill_line(line, format, fields, "")).append(brk);
    }
  }
  return out;
}

std::string escape_value(TextFormat format, const std::string& text) {
  switch (format) {
    case TextFormat::kShell:
      return shell_quote(text);
    case TextFormat::kRpmSpec:
      return rpm_escape(text);
    case TextFormat::kDesktop:
      return desktop_escape(text);
    case TextFormat::kXml:
      return markup_escape(text);
  }
  return text;
}

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string rpm_escape(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out;
}

std::string desktop_escape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == ' ' && i == 0) {
      out += "\\s";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace vorlane::packages
