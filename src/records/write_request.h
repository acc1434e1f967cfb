#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <string>
#include <string_view>

#include "records/inspection.h"
#include "records/target_disk.h"

// The job order the Imager passes to the writer.
struct WriteRequest {
  int64_t version = 0;
  std::string source;  // absolute path of the image file
  Inspection inspection;
  TargetDisk target;
  uint32_t uid = 0;    // the Imager's user: owner of the source and of the channel peer
  std::string socket;  // path of the Imager's listening socket
  std::string nonce;   // echoed as the message of the first event

  // Parses one JSON document. Throws the parser's error for text that is not
  // JSON and DecodingError for JSON without the request's form.
  static WriteRequest decode(std::string_view json);

  // Checks the form of every field; throws ImagerError with the message of the
  // first rule that fails. Reads no system state.
  void validate() const;
};

void to_json(nlohmann::json& json, const WriteRequest& request);
void from_json(const nlohmann::json& json, WriteRequest& request);  // throws DecodingError
