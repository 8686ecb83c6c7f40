#include "formats/launch_data.h"

#include "formats/byte_reader.h"

namespace vorlane::formats {

namespace {

std::vector<std::string> read_list(ByteReader& reader) {
  // The count is one unsigned byte: 0xFF means 255 strings.
  const std::uint8_t count = reader.u8();
  std::vector<std::string> list;
  list.reserve(count);
  for (unsigned i = 0; i < count && reader.ok(); ++i) list.push_back(reader.c_string());
  return list;
}

}  // namespace

BurnedInData::BurnedInData(std::span<const std::uint8_t> area) {
  ByteReader reader(area);
  const std::uint8_t flags = reader.u8();
  run_on_main_thread = flags & kRunOnMainThread;
  console_app = flags & kConsoleApp;
  flag_bit2 = flags & kFlagBit2;
  flag_bit3 = flags & kFlagBit3;
  flag_bit4 = flags & kFlagBit4;
  stack_size = reader.u32_be();
  main_class = reader.c_string();
  jvm_options = read_list(reader);
  app_args = read_list(reader);
  allowed_jvm_options = read_list(reader);
  if (!reader.ok()) {
    *this = BurnedInData();
    intact = false;
  }
}

std::uint8_t BurnedInData::flags() const {
  return (run_on_main_thread ? kRunOnMainThread : 0) | (console_app ? kConsoleApp : 0) |
         (flag_bit2 ? kFlagBit2 : 0) | (flag_bit3 ? kFlagBit3 : 0) | (flag_bit4 ? kFlagBit4 : 0);
}

}  // namespace vorlane::formats
