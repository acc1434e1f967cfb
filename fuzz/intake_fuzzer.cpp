// The request intake on hostile argument text: strict Base64, the size cap,
// JSON decoding and validation, exactly as the writer runs them after its
// privilege check.
//
// Input: one mode byte, then the payload. An even mode byte passes the
// payload as the argument text itself; an odd one passes the payload's
// Base64 encoding, so that mutations reach the JSON and the validation rules
// instead of dying in the Base64 decoder.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "records/imager_error.h"
#include "records/json_fields.h"
#include "session/intake.h"
#include "support/base64.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// An accepted request must survive its own encoding unchanged and still be
// valid: what the writer acts on is what the Imager sent.
void checkRoundTrip(const WriteRequest& request) {
  const std::string text = nlohmann::json(request).dump();
  const WriteRequest again = WriteRequest::decode(text);
  again.validate();
  require(again.version == request.version && again.source == request.source &&
          again.inspection == request.inspection && again.target == request.target &&
          again.uid == request.uid && again.socket == request.socket &&
          again.nonce == request.nonce);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view payload(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string argument = data[0] % 2 == 0 ? std::string(payload) : encodeBase64(payload);
  std::optional<WriteRequest> request;
  try {
    request = Intake::decodeRequest(argument);
  } catch (const ImagerError&) {
    return 0;
  } catch (const DecodingError&) {
    return 0;
  } catch (const nlohmann::json::exception&) {
    return 0;
  }
  // Any other exception escapes and counts as a crash, as does one from
  // re-encoding an accepted request.
  require(decodeBase64(argument)->size() <= Intake::kMaximumRequestBytes);
  checkRoundTrip(*request);
  return 0;
}
