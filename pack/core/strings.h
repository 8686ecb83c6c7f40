// Splitting and joining text.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/text_split.h"

namespace vorlane {

// split and split_lines: the text formats' own (formats/text_split.h).
using formats::split;
using formats::split_lines;

/// The runs of `text` between blanks (spaces and tabs), none empty.
std::vector<std::string> split_words(std::string_view text);

std::string join(std::span<const std::string> items, std::string_view separator);

/// The whole number `text` starts with ("3072" of "3072/rsa"), or -1.
int leading_number(std::string_view text);

/// `text` for XML or HTML, in content and in quoted attributes: &, <, >, " and '
/// written as entities.
std::string markup_escape(std::string_view text);

/// The last `max_lines` lines of `output`, each indented by two blanks, for
/// showing under an error message.
std::string tail_lines(std::string_view output, std::size_t max_lines);

}  // namespace vorlane
