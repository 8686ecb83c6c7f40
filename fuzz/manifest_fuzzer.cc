// Fuzz target: the update manifest writer on any header and entries.
//
// Input: a manifest body, read leniently into the writer's input, so the
// shared vectors (formats/testdata/manifests, this target's seeds) are valid
// inputs and any byte can reach a path or a header value.
//
// Beyond "no crash": what manifest_body accepts is within the updater's
// bounds; its header lines are UTF-8 without a carriage return; its entry
// lines hold only the encoded alphabet, blanks and %XX; it lists exactly the
// input's paths, each encoded so that it decodes back to its input, in the
// unsigned order of the raw bytes; and read back it is written again byte
// for byte.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "pack/publish/feed_plan.h"
#include "pack/publish/feed_vectors.h"

namespace {

using vorlane::fuzz::require;
namespace publish = vorlane::publish;

bool encoded_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("._~+-/@,=% ").find(c) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(bytes), size);
  const std::optional<publish::testing::ManifestInput> in =
      publish::testing::read_manifest_input(input);
  if (!in) return 0;
  const vorlane::Result<std::string> body = publish::manifest_body(in->facts, in->entries, "");
  if (!body) return 0;

  require(body->size() <= publish::kManifestMaxBytes, "a body is within the byte bound");
  std::vector<std::string_view> lines = publish::testing::split_view(*body, '\n');
  require(lines.back().empty(), "a body ends with a line end");
  lines.pop_back();
  const std::size_t header = in->facts.expires.empty() ? 7 : 8;
  require(lines.size() == header + in->entries.size(), "one line per entry after the header");
  require(in->entries.size() <= publish::kManifestMaxEntries, "the entries are within the bound");

  std::vector<std::string> paths;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    require(line.size() <= publish::kManifestMaxLine, "every line is within the line bound");
    if (i < header) {
      require(publish::valid_utf8(line) && line.find('\r') == std::string_view::npos,
              "a header line is UTF-8 without a carriage return");
      continue;
    }
    require(std::all_of(line.begin(), line.end(), encoded_byte),
            "an entry line holds only the encoded alphabet");
    // A path is an entry line's last field, but a remake line's second:
    // the dump's options follow it.
    std::string_view field = line.substr(line.rfind(' ') + 1);
    if (line.starts_with("remake ")) {
      field = line.substr(7);
      field = field.substr(0, field.find(' '));
    }
    std::string path = publish::testing::lenient_decode(field);
    require(publish::percent_encode(path) == field, "a path is encoded as it decodes");
    paths.push_back(std::move(path));
  }
  require(std::adjacent_find(paths.begin(), paths.end(), std::greater_equal<>()) == paths.end(),
          "the paths are in strictly rising unsigned byte order");
  std::vector<std::string> given;
  for (const publish::FeedEntry& e : in->entries) given.push_back(e.path);
  std::sort(given.begin(), given.end());
  require(given == paths, "the paths are the input's, decoded");

  const std::optional<publish::testing::ManifestInput> again =
      publish::testing::read_manifest_input(*body);
  require(again.has_value(), "a written body reads back");
  const vorlane::Result<std::string> rewritten =
      publish::manifest_body(again->facts, again->entries, "");
  require(rewritten && *rewritten == *body, "a written body is written again byte for byte");
  return 0;
}
