#include "launcher/single_instance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vorlane {
namespace {

using namespace std::string_literals;

TEST(SingleInstanceId, Validity) {
  const struct {
    std::string id;
    bool valid;
  } cases[] = {
      {"notes", true},
      {"org.example.Notes-2_x", true},
      {std::string(128, 'a'), true},
      {"", false},
      {std::string(129, 'a'), false},
      {".", false},
      {"..", false},
      {"a/b", false},
      {"a b", false},
      {"gr\xC3\xBC", false},
      {"a\nb", false},
      {"a\0b"s, false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_valid_instance_id(c.id), c.valid) << c.id;
}

TEST(LaunchMessage, RoundTripsAnyBytes) {
  const ForwardedLaunch cases[] = {
      {},
      {{"", "", ""}, "", "", ""},
      {{"a.vnote", "--flag", "x y"}, "/home/ann", "tok-1", std::nullopt},
      {{"\xFF\xFE", "\xC0\x80", "\xED\xA0\xBD", "\x01\x02\n\t", "a\0b"s, "\xF0\x9F\x98\x80"},
       "/tmp/\xE9t\xE9",
       std::nullopt,
       "startup_TIME1"},
      {{std::string(200000, 'z')}, std::string(4096, '/'), std::nullopt, std::nullopt},
  };
  for (const ForwardedLaunch& launch : cases) {
    const std::string message = encode_launch(launch);
    const std::optional<std::uint32_t> size =
        launch_body_size(std::string_view(message).substr(0, kLaunchHeaderSize));
    ASSERT_TRUE(size.has_value());
    ASSERT_EQ(*size, message.size() - kLaunchHeaderSize);
    EXPECT_EQ(decode_launch_body(std::string_view(message).substr(kLaunchHeaderSize)), launch);
  }
}

TEST(LaunchMessage, MalformedBodiesAreRefused) {
  const std::string good = encode_launch({{"a", "bc"}, "/w", "t", std::nullopt}).substr(8);
  const std::string u32_max = "\xFF\xFF\xFF\xFF";
  const std::string cases[] = {
      "",
      good.substr(0, good.size() - 1),              // cut short in the last argument
      good + "x",                                   // a byte left over
      good.substr(0, 6) + "\x02" + good.substr(7),  // a presence byte of 2
      // A working directory longer than the body.
      "\x10\x00\x00\x00/w"s,
      // An argument count no body could hold.
      "\x00\x00\x00\x00\x00\x00"s + u32_max,
      // Three arguments announced, two there.
      "\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"s,
  };
  for (const std::string& body : cases) {
    EXPECT_EQ(decode_launch_body(body), std::nullopt) << testing::PrintToString(body);
  }
}

TEST(LaunchMessage, HeaderChecksMagicAndSizeBound) {
  const auto header = [](std::string magic, std::uint32_t size) {
    for (int shift = 0; shift < 32; shift += 8) magic += static_cast<char>((size >> shift) & 0xFF);
    return magic;
  };
  const struct {
    std::string header;
    std::optional<std::uint32_t> size;
  } cases[] = {
      {header("VLS1", 0), 0},
      {header("VLS1", kMaxLaunchMessage), kMaxLaunchMessage},
      {header("VLS1", kMaxLaunchMessage + 1), std::nullopt},
      {header("VLS1", 0xFFFFFFFF), std::nullopt},
      {header("VLS2", 4), std::nullopt},
      {header("GET ", 4), std::nullopt},
      {"VLS1", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(launch_body_size(c.header), c.size) << testing::PrintToString(c.header);
  }
}

TEST(InstanceFolder, RuntimeDirWhenAbsoluteElseTmp) {
  const struct {
    const char* xdg;
    std::string folder;
  } cases[] = {
      {"/run/user/1000", "/run/user/1000/vorlane"},
      {"/run/user/1000//", "/run/user/1000/vorlane"},
      {"/", "/vorlane"},
      {nullptr, "/tmp/vorlane-1000"},
      {"", "/tmp/vorlane-1000"},
      {"run/user/1000", "/tmp/vorlane-1000"},  // relative: not to be used
  };
  for (const auto& c : cases) {
    EXPECT_EQ(instance_folder(c.xdg, 1000), c.folder) << (c.xdg ? c.xdg : "(unset)");
  }
}

TEST(InstanceFolder, OnlyAPrivateFolderOfTheUser) {
  const struct {
    FolderFacts facts;
    std::string problem;
  } cases[] = {
      {{true, false, 1000, S_IFDIR | 0700}, ""},
      {{true, false, 1000, S_IFDIR | 0500}, ""},
      {{false, true, 1000, S_IFLNK | 0777}, "is a symbolic link"},
      {{false, false, 1000, S_IFREG | 0600}, "is not a folder"},
      {{true, false, 0, S_IFDIR | 0700}, "belongs to user 0, not to 1000"},
      {{true, false, 1000, S_IFDIR | 0701}, "has mode 0701: others than its owner may use it"},
      {{true, false, 1000, S_IFDIR | 01777}, "has mode 1777: others than its owner may use it"},
  };
  for (const auto& c : cases) EXPECT_EQ(folder_problem(c.facts, 1000), c.problem);
}

TEST(InstanceFolder, OnlyUnderAParentNobodyElseMayRenameIn) {
  const struct {
    uid_t owner;
    mode_t mode;
    std::string problem;
  } cases[] = {
      {1000, S_IFDIR | 0700, ""},
      {1000, S_IFDIR | 0755, ""},
      {0, S_IFDIR | 0755, ""},   // /run/user
      {0, S_IFDIR | 01777, ""},  // /tmp: others may not rename what is the user's
      {1000, S_IFDIR | 01770, ""},
      {1000, S_IFDIR | 0777, "may be renamed by others: its parent has mode 0777"},
      {1000, S_IFDIR | 0720, "may be renamed by others: its parent has mode 0720"},
      {0, S_IFDIR | 0757, "may be renamed by others: its parent has mode 0757"},
      // Its owner may rename anything in it, sticky or not.
      {65534, S_IFDIR | 0755, "may be renamed by others: its parent belongs to user 65534"},
      {65534, S_IFDIR | 01777, "may be renamed by others: its parent belongs to user 65534"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parent_problem({true, false, c.owner, c.mode}, 1000), c.problem)
        << c.owner << " " << std::oct << c.mode;
  }
}

TEST(LaunchQueue, BoundsCountAndBytesOfReservedAndQueuedLaunches) {
  // Each step reserves (+N), gives back (-N), queues (qN) or takes the
  // oldest (p), on a queue of at most 3 launches and 100 bytes.
  const struct {
    char op;
    std::size_t bytes;
    bool fits;
  } steps[] = {
      {'+', 40, true}, {'+', 40, true}, {'+', 21, false},  // 101 bytes
      {'+', 20, true}, {'+', 0, false},                    // a 4th launch
      {'-', 20, true}, {'+', 20, true},                    // room given back is room again
      {'q', 40, true}, {'q', 40, true}, {'q', 20, true},   // queued launches still count
      {'+', 0, false}, {'p', 40, true}, {'+', 41, false},  // taking one frees its room only
      {'+', 40, true},
  };
  LaunchQueue queue(3, 100);
  int queued = 0;
  int taken = 0;
  for (const auto& s : steps) {
    switch (s.op) {
      case '+':
        EXPECT_EQ(queue.reserve(s.bytes), s.fits) << "+" << s.bytes;
        break;
      case '-':
        queue.release(s.bytes);
        break;
      case 'q':
        queue.push({{std::to_string(queued++)}, "", {}, {}}, s.bytes);
        break;
      case 'p':
        EXPECT_EQ(queue.pop().args, std::vector<std::string>{std::to_string(taken++)});
        break;
    }
  }
}

TEST(LaunchQueue, DefaultBoundsTakeSixtyFourLaunchesOrSixteenMiB) {
  const struct {
    std::size_t bytes;
    std::size_t fit;
  } cases[] = {
      {1, kMaxQueuedLaunches},
      {kMaxLaunchMessage, kMaxQueuedBytes / kMaxLaunchMessage},
      {kMaxLaunchMessage - 1, kMaxQueuedBytes / kMaxLaunchMessage},
  };
  for (const auto& c : cases) {
    LaunchQueue queue(kMaxQueuedLaunches, kMaxQueuedBytes);
    std::size_t fit = 0;
    while (fit <= kMaxQueuedLaunches && queue.reserve(c.bytes)) ++fit;
    EXPECT_EQ(fit, c.fit) << c.bytes;
  }
}

}  // namespace
}  // namespace vorlane
