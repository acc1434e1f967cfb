#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "helpers/requests.h"
#include "records/imager_error.h"
#include "records/write_request.h"

namespace {

struct Case {
  const char* name;
  std::function<void(WriteRequest&)> edit;
  const char* message;  // nullptr: the request passes
};

constexpr const char* kOwner = "Invalid image owner/path.";
constexpr const char* kTarget = "Invalid target.";
constexpr const char* kChannel = "Invalid writer channel.";
constexpr const char* kImage = "Invalid image inspection.";
constexpr int64_t k2To37 = int64_t{1} << 37;

std::string outcome(const WriteRequest& request) {
  try {
    request.validate();
    return "passes";
  } catch (const ImagerError& error) {
    return error.what();
  }
}

}  // namespace

TEST(RequestValidation, EachRuleAtItsBoundary) {
  const Case cases[] = {
      {"valid request", [](WriteRequest&) {}, nullptr},
      {"version 2", [](WriteRequest& r) { r.version = 2; }, kOwner},
      {"uid 499", [](WriteRequest& r) { r.uid = 499; }, kOwner},
      {"uid 500", [](WriteRequest& r) { r.uid = 500; }, nullptr},
      {"relative source", [](WriteRequest& r) { r.source = "os.img"; }, kOwner},
      {"root as source", [](WriteRequest& r) { r.source = "/"; }, nullptr},
      {"4095-byte source", [](WriteRequest& r) { r.source = "/" + std::string(4094, 'a'); }, nullptr},
      {"4096-byte source", [](WriteRequest& r) { r.source = "/" + std::string(4095, 'a'); }, kOwner},
      {"2048 two-byte characters",
       [](WriteRequest& r) {
         r.source = "/";
         for (int i = 0; i < 2047; ++i) r.source += "\xC3\xA9";
         r.source += "a";  // 1 + 4094 + 1 = 4096 bytes
       },
       kOwner},
      {"NUL in source", [](WriteRequest& r) { r.source = std::string("/a\0b", 4); }, kOwner},
      {"five-digit disk", [](WriteRequest& r) { r.target.bsd = "disk12345"; }, nullptr},
      {"six-digit disk", [](WriteRequest& r) { r.target.bsd = "disk123456"; }, kTarget},
      {"upper-case disk", [](WriteRequest& r) { r.target.bsd = "DISK4"; }, nullptr},
      {"partition", [](WriteRequest& r) { r.target.bsd = "disk4s1"; }, kTarget},
      {"disk with a line feed", [](WriteRequest& r) { r.target.bsd = "disk4\n"; }, kTarget},
      {"registry 0", [](WriteRequest& r) { r.target.registryID = 0; }, kTarget},
      {"capacity 0", [](WriteRequest& r) { r.target.capacity = 0; }, kTarget},
      {"all-hyphen channel",
       [](WriteRequest& r) { r.socket = "/private/tmp/ori-" + std::string(36, '-') + "/s"; }, nullptr},
      {"channel elsewhere", [](WriteRequest& r) { r.socket = "/tmp/ori-x/s"; }, kChannel},
      {"channel with 35 digits",
       [](WriteRequest& r) { r.socket = "/private/tmp/ori-" + std::string(35, 'a') + "/s"; },
       kChannel},
      {"channel with a trailing slash", [](WriteRequest& r) { r.socket += "/"; }, kChannel},
      {"lower-case nonce",
       [](WriteRequest& r) { r.nonce = "8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5d"; }, nullptr},
      {"nonce without hyphens",
       [](WriteRequest& r) { r.nonce = "8d2a1f3c1b2e4f5a9c7d0e1f2a3b4c5d"; }, kChannel},
      {"nonce in braces",
       [](WriteRequest& r) { r.nonce = "{8d2a1f3c-1b2e-4f5a-9c7d-0e1f2a3b4c5d}"; }, kChannel},
      {"bytes 0", [](WriteRequest& r) { r.inspection.bytes = 0; }, kImage},
      {"bytes 2^37", [](WriteRequest& r) { r.inspection.bytes = k2To37; }, nullptr},
      {"bytes 2^37 + 1", [](WriteRequest& r) { r.inspection.bytes = k2To37 + 1; }, kImage},
      {"expanded 512", [](WriteRequest& r) { r.inspection.expanded = 512; }, nullptr},
      {"expanded 513", [](WriteRequest& r) { r.inspection.expanded = 513; }, kImage},
      {"expanded negative", [](WriteRequest& r) { r.inspection.expanded = -512; }, kImage},
      {"expanded 2^37", [](WriteRequest& r) { r.inspection.expanded = k2To37; }, nullptr},
      {"expanded 2^37 + 512", [](WriteRequest& r) { r.inspection.expanded = k2To37 + 512; }, kImage},
      {"upper-case digest", [](WriteRequest& r) { r.inspection.sha256 = std::string(64, 'A'); }, nullptr},
      {"short digest", [](WriteRequest& r) { r.inspection.sha256 = std::string(63, 'a'); }, kImage},
      {"non-hex expanded digest",
       [](WriteRequest& r) { r.inspection.expandedSHA256 = std::string(64, 'z'); }, kImage},
  };
  for (const Case& c : cases) {
    WriteRequest request = validRequest();
    c.edit(request);
    EXPECT_EQ(outcome(request), c.message ? c.message : "passes") << c.name;
  }
}

TEST(RequestValidation, FirstFailingRuleNamesTheMessage) {
  WriteRequest request = validRequest();
  request.socket = "/tmp/elsewhere";
  request.inspection.sha256 = "bad";
  EXPECT_EQ(outcome(request), kChannel);
  request.target.capacity = 0;
  EXPECT_EQ(outcome(request), kTarget);
  request.version = 0;
  EXPECT_EQ(outcome(request), kOwner);
}
