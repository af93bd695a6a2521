// The publisher's merge over documents other programs stored under its keys, with arbitrary
// paths and value texts.
// Input: NUL-separated fields: the stored text (a lone "-" stands for an absent key), the path
// separator (at most 3 bytes), then path and value text pairs.
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "publication/json_path.h"
#include "publication/redis_publisher.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::vector<std::string> Fields(const uint8_t* data, std::size_t size) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      fields.emplace_back();
    } else {
      fields.back().push_back(static_cast<char>(data[i]));
    }
  }
  return fields;
}

bool Ascii(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string Dump(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::vector<std::string> fields = Fields(data, size);
  std::optional<std::string> stored;
  if (fields[0] != "-") stored = fields[0];
  const std::string separator = fields.size() > 1 ? fields[1].substr(0, 3) : ".";
  app::PathEntryList entries;
  for (std::size_t i = 2; i + 1 < fields.size(); i += 2) entries.emplace_back(fields[i], fields[i + 1]);

  const std::string merged = app::merge_json_document(stored, entries, separator);

  // The stored result is always one JSON object that reads back.
  const nlohmann::json document = nlohmann::json::parse(merged, nullptr, false);
  FUZZ_CHECK(!document.is_discarded() && document.is_object());
  if (entries.empty()) return 0;

  // The last entry is found under its path, holding its value (or its text as a string).
  const auto& [path, value_text] = entries.back();
  if (!Ascii(path)) return 0;  // names that are not UTF-8 are rewritten by the serialiser
  const nlohmann::json* node = &document;
  std::size_t start = 0;
  if (!separator.empty()) {
    for (std::size_t p = path.find(separator); p != std::string::npos;
         p = path.find(separator, start)) {
      const auto member = node->find(path.substr(start, p - start));
      FUZZ_CHECK(member != node->end() && member->is_object());
      node = &*member;
      start = p + separator.size();
    }
  }
  const auto last = node->find(path.substr(start));
  FUZZ_CHECK(last != node->end());
  nlohmann::json expected = nlohmann::json::parse(value_text, nullptr, false);
  if (expected.is_discarded()) expected = value_text;
  FUZZ_CHECK(Dump(*last) == Dump(expected));
  return 0;
}
