#include <nlohmann/json.hpp>

#include "records/inspection.h"
#include "records/json_fields.h"
#include "records/target_disk.h"
#include "records/write_event.h"
#include "records/write_request.h"
#include "support/unicode_text.h"

using nlohmann::json;

bool operator==(const Inspection& a, const Inspection& b) {
  return a.bytes == b.bytes && a.expanded == b.expanded && canonicallyEqual(a.sha256, b.sha256) &&
         canonicallyEqual(a.expandedSHA256, b.expandedSHA256);
}

void to_json(json& j, const Inspection& i) {
  j = json{{"bytes", i.bytes},
           {"expanded", i.expanded},
           {"sha256", i.sha256},
           {"expandedSHA256", i.expandedSHA256}};
}

void from_json(const json& j, Inspection& i) {
  JsonFields::requireObject(j);
  i.bytes = JsonFields::integer<int64_t>(j, "bytes");
  i.expanded = JsonFields::integer<int64_t>(j, "expanded");
  i.sha256 = JsonFields::string(j, "sha256");
  i.expandedSHA256 = JsonFields::string(j, "expandedSHA256");
}

std::string TargetDisk::id() const {
  return bsd + "-" + std::to_string(registryID) + "-" + std::to_string(capacity);
}

bool operator==(const TargetDisk& a, const TargetDisk& b) {
  return a.capacity == b.capacity && a.registryID == b.registryID && canonicallyEqual(a.bsd, b.bsd) &&
         canonicallyEqual(a.name, b.name) && canonicallyEqual(a.bus, b.bus);
}

void to_json(json& j, const TargetDisk& d) {
  j = json{{"bsd", d.bsd},
           {"name", d.name},
           {"capacity", d.capacity},
           {"registryID", d.registryID},
           {"bus", d.bus}};
}

void from_json(const json& j, TargetDisk& d) {
  JsonFields::requireObject(j);
  d.bsd = JsonFields::string(j, "bsd");
  d.name = JsonFields::string(j, "name");
  d.capacity = JsonFields::integer<uint64_t>(j, "capacity");
  d.registryID = JsonFields::integer<uint64_t>(j, "registryID");
  d.bus = JsonFields::string(j, "bus");
}

WriteRequest WriteRequest::decode(std::string_view text) {
  return json::parse(text).get<WriteRequest>();
}

void to_json(json& j, const WriteRequest& r) {
  j = json{{"version", r.version}, {"source", r.source}, {"inspection", r.inspection},
           {"target", r.target},   {"uid", r.uid},       {"socket", r.socket},
           {"nonce", r.nonce}};
}

void from_json(const json& j, WriteRequest& r) {
  JsonFields::requireObject(j);
  r.version = JsonFields::integer<int64_t>(j, "version");
  r.source = JsonFields::string(j, "source");
  r.inspection = JsonFields::member(j, "inspection").get<Inspection>();
  r.target = JsonFields::member(j, "target").get<TargetDisk>();
  r.uid = JsonFields::integer<uint32_t>(j, "uid");
  r.socket = JsonFields::string(j, "socket");
  r.nonce = JsonFields::string(j, "nonce");
}

std::string WriteEvent::encode() const { return json(*this).dump(); }

void to_json(json& j, const WriteEvent& e) {
  j = json{{"stage", e.stage}, {"completed", e.completed}, {"total", e.total}};
  if (e.message) j["message"] = *e.message;
}

void from_json(const json& j, WriteEvent& e) {
  JsonFields::requireObject(j);
  e.stage = JsonFields::string(j, "stage");
  e.completed = JsonFields::integer<int64_t>(j, "completed");
  e.total = JsonFields::integer<int64_t>(j, "total");
  e.message.reset();
  if (const auto found = j.find("message"); found != j.end() && !found->is_null()) {
    if (!found->is_string()) throw DecodingError("Member \"message\" is not a string.");
    e.message = found->get<std::string>();
  }
}
