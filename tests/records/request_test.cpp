// A write request from its JSON text to its validation: one row per rule at
// its boundary. Values that pass come back as they were given.

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "helpers/requests.h"
#include "records/imager_error.h"
#include "records/json_fields.h"
#include "records/write_event.h"
#include "records/write_request.h"

using nlohmann::json;

namespace {

constexpr char kOwner[] = "Invalid image owner/path.";
constexpr char kTarget[] = "Invalid target.";
constexpr char kChannel[] = "Invalid writer channel.";
constexpr char kImage[] = "Invalid image inspection.";
constexpr char kUndecodable[] = "undecodable";
const json kErase(json::value_t::discarded);

// "passes", kUndecodable, or the first failing rule's message.
std::string outcome(const json& document) {
  WriteRequest request;
  try {
    request = WriteRequest::decode(document.dump());
  } catch (const DecodingError&) {
    return kUndecodable;
  }
  try {
    request.validate();
    return "passes";
  } catch (const ImagerError& error) {
    return error.what();
  }
}

}  // namespace

TEST(WriteRequest, EachRuleAtItsBoundary) {
  const uint64_t k2To37 = uint64_t{1} << 37;
  std::string wide = "/";  // 4096 bytes of 2048 characters with the "a" below
  for (int i = 0; i < 2047; ++i) wide += "\xC3\xA9";
  const std::string channel = "/private/tmp/ori-";
  const struct {
    const char* member;  // a JSON pointer into a valid request
    json value;          // kErase: the member is left out
    const char* outcome;
  } cases[] = {
      // The form of each member.
      {"/nonce", kErase, kUndecodable},
      {"/source", nullptr, kUndecodable},
      {"/inspection", json::array(), kUndecodable},
      {"/version", "1", kUndecodable},
      {"/version", true, kUndecodable},
      {"/target/bsd", 4, kUndecodable},
      {"/inspection/bytes", 4096.5, kUndecodable},
      {"/uid", 501.0, kUndecodable},
      {"/uid", -1, kUndecodable},
      {"/uid", 4294967296ULL, kUndecodable},
      {"/uid", 4294967295ULL, "passes"},
      {"/inspection/bytes", 9223372036854775808ULL, kUndecodable},
      {"/target/capacity", -1, kUndecodable},
      {"/target/capacity", 18446744073709551615ULL, "passes"},
      {"/target/registryID", 9223372036854775808ULL, "passes"},
      {"/target/registryId", 5, kUndecodable},  // the key in another case
      {"/future", {{"nested", true}}, "passes"},
      // The rules, in the order they are checked.
      {"/version", 2, kOwner},
      {"/uid", 499, kOwner},
      {"/uid", 500, "passes"},
      {"/source", "os.img", kOwner},
      {"/source", "/", "passes"},
      {"/source", "/" + std::string(4094, 'a'), "passes"},
      {"/source", "/" + std::string(4095, 'a'), kOwner},
      {"/source", wide + "a", kOwner},
      {"/source", std::string("/a\0b", 4), kOwner},
      {"/target/bsd", "disk12345", "passes"},
      {"/target/bsd", "disk123456", kTarget},
      {"/target/bsd", "DISK4", "passes"},
      {"/target/bsd", "disk4s1", kTarget},
      {"/target/bsd", "disk4\n", kTarget},
      {"/target/registryID", 0, kTarget},
      {"/target/capacity", 0, kTarget},
      {"/socket", channel + std::string(36, '-') + "/s", "passes"},
      {"/socket", "/tmp/ori-x/s", kChannel},
      {"/socket", channel + std::string(35, 'a') + "/s", kChannel},
      {"/socket", channel + std::string(35, 'a') + "g/s", kChannel},
      {"/socket", channel + std::string(33, 'a') + "/../s", kChannel},
      {"/socket", validRequest().socket + "/", kChannel},
      {"/nonce", "8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5d", "passes"},
      {"/nonce", "8d2a1f3c1b2e4f5a9c7d0e1f2a3b4c5d", kChannel},
      {"/nonce", "{8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5d}", kChannel},
      {"/inspection/bytes", 0, kImage},
      {"/inspection/bytes", k2To37, "passes"},
      {"/inspection/bytes", k2To37 + 1, kImage},
      {"/inspection/expanded", 512, "passes"},
      {"/inspection/expanded", 513, kImage},
      {"/inspection/expanded", -512, kImage},
      {"/inspection/expanded", k2To37, "passes"},
      {"/inspection/expanded", k2To37 + 512, kImage},
      {"/inspection/sha256", std::string(64, 'A'), "passes"},
      {"/inspection/sha256", std::string(63, 'a'), kImage},
      {"/inspection/expandedSHA256", std::string(64, 'z'), kImage},
  };
  for (const auto& c : cases) {
    json document = validRequest();
    const json::json_pointer member(c.member);
    if (c.value.is_discarded()) document.at(member.parent_pointer()).erase(member.back());
    else document[member] = c.value;
    if (member.back() == "registryId") document["target"].erase("registryID");
    EXPECT_EQ(outcome(document), c.outcome) << c.member << " = " << c.value.dump();
    if (std::string(c.outcome) == "passes" && member.back() != "future") {
      EXPECT_EQ(json(WriteRequest::decode(document.dump()))[member], c.value) << c.member;
    }
  }
  // The first failing rule names the message.
  json document = validRequest();
  document["socket"] = "/tmp/elsewhere";
  document["inspection"]["sha256"] = "bad";
  EXPECT_EQ(outcome(document), kChannel);
  document["target"]["capacity"] = 0;
  EXPECT_EQ(outcome(document), kTarget);
  document["version"] = 0;
  EXPECT_EQ(outcome(document), kOwner);
}

TEST(WriteRequest, RefusesTextThatIsNotAnObject) {
  for (const char* text : {"", "[]", "\"request\"", "{\"version\":1", "\xff"})
    EXPECT_THROW(WriteRequest::decode(text), std::exception) << text;
  // Deep nesting in an ignored member is parsed without exhausting the stack.
  const std::string deep = "{\"x\":" + std::string(8000, '[') + std::string(8000, ']') + "}";
  EXPECT_THROW(WriteRequest::decode(deep), DecodingError);
}

TEST(WriteEvent, TreatsNullMessageAsAbsent) {
  const auto event = json::parse(R"({"stage":"complete","completed":1,"total":1,"message":null})")
                         .get<WriteEvent>();
  EXPECT_EQ(event.message, std::nullopt);
}

TEST(TargetDisk, EqualityTakesEveryField) {
  TargetDisk disk{"disk4", "Caf\xC3\xA9 Drive", 0, 18446744073709551615ULL, "USB"};
  TargetDisk decomposed = disk;
  decomposed.name = "Cafe\xCC\x81 Drive";
  EXPECT_EQ(disk, decomposed);
  const std::function<void(TargetDisk&)> changes[] = {
      [](TargetDisk& d) { d.bsd = "disk5"; },     [](TargetDisk& d) { d.name = "Other"; },
      [](TargetDisk& d) { d.capacity += 512; },   [](TargetDisk& d) { d.registryID -= 1; },
      [](TargetDisk& d) { d.bus = "usb"; },
  };
  for (const auto& change : changes) {
    TargetDisk other = disk;
    change(other);
    EXPECT_FALSE(disk == other) << other.bsd << " " << other.name << " " << other.bus;
  }
}
