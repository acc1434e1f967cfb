#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "helpers/requests.h"
#include "records/json_fields.h"
#include "records/target_disk.h"
#include "records/write_event.h"
#include "records/write_request.h"

using nlohmann::json;

namespace {

json validJson() { return json(validRequest()); }

struct Edit {
  const char* name;
  std::function<void(json&)> apply;
};

bool decodes(const json& document) {
  try {
    WriteRequest::decode(document.dump());
    return true;
  } catch (const DecodingError&) {
    return false;
  }
}

}  // namespace

TEST(WriteRequestDecoding, RoundTripsAValidRequest) {
  const WriteRequest request = validRequest();
  const WriteRequest decoded = WriteRequest::decode(json(request).dump());
  EXPECT_EQ(json(decoded), json(request));
}

TEST(WriteRequestDecoding, RefusesMalformedMembers) {
  const Edit refused[] = {
      {"missing nonce", [](json& j) { j.erase("nonce"); }},
      {"null source", [](json& j) { j["source"] = nullptr; }},
      {"inspection not an object", [](json& j) { j["inspection"] = json::array(); }},
      {"string for a number", [](json& j) { j["version"] = "1"; }},
      {"number for a string", [](json& j) { j["target"]["bsd"] = 4; }},
      {"fraction", [](json& j) { j["inspection"]["bytes"] = 4096.5; }},
      {"integral float", [](json& j) { j["uid"] = 501.0; }},
      {"negative uid", [](json& j) { j["uid"] = -1; }},
      {"uid 2^32", [](json& j) { j["uid"] = 4294967296ULL; }},
      {"bytes 2^63", [](json& j) { j["inspection"]["bytes"] = 9223372036854775808ULL; }},
      {"negative capacity", [](json& j) { j["target"]["capacity"] = -1; }},
      {"boolean for a number", [](json& j) { j["version"] = true; }},
      {"key in another case", [](json& j) {
         j["target"]["registryId"] = j["target"]["registryID"];
         j["target"].erase("registryID");
       }},
  };
  for (const Edit& edit : refused) {
    json document = validJson();
    edit.apply(document);
    EXPECT_FALSE(decodes(document)) << edit.name;
  }
}

TEST(WriteRequestDecoding, AcceptsFullWidthsAndIgnoresExtraMembers) {
  json document = validJson();
  document["future"] = {{"nested", true}};
  document["target"]["capacity"] = 18446744073709551615ULL;
  document["target"]["registryID"] = 9223372036854775808ULL;
  document["uid"] = 4294967295ULL;
  document["inspection"]["expanded"] = -5;  // decoding checks form only
  const WriteRequest request = WriteRequest::decode(document.dump());
  EXPECT_EQ(request.target.capacity, 18446744073709551615ULL);
  EXPECT_EQ(request.target.registryID, 9223372036854775808ULL);
  EXPECT_EQ(request.uid, 4294967295U);
  EXPECT_EQ(request.inspection.expanded, -5);
}

TEST(WriteRequestDecoding, RefusesTextThatIsNotAnObject) {
  for (const char* text : {"", "[]", "\"request\"", "{\"version\":1", "\xff"})
    EXPECT_THROW(WriteRequest::decode(text), std::exception) << text;
  // Deep nesting in an ignored member is parsed without exhausting the stack.
  const std::string deep = "{\"x\":" + std::string(8000, '[') + std::string(8000, ']') + "}";
  EXPECT_THROW(WriteRequest::decode(deep), DecodingError);
}

// Encoding: the event tests, through the channel.
TEST(WriteEventCoding, TreatsNullMessageAsAbsent) {
  const auto event = json::parse(R"({"stage":"complete","completed":1,"total":1,"message":null})")
                         .get<WriteEvent>();
  EXPECT_EQ(event.message, std::nullopt);
}

TEST(TargetDisk, IdentityAndEquality) {
  TargetDisk disk{"disk4", "Caf\xC3\xA9 Drive", 0, 18446744073709551615ULL, "USB"};
  EXPECT_EQ(disk.id(), "disk4-18446744073709551615-0");

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
    EXPECT_FALSE(disk == other) << other.id() << " " << other.name << " " << other.bus;
  }
}
