#include "session/intake.h"

#include <unistd.h>

#include "records/imager_error.h"
#include "support/base64.h"

namespace Intake {

WriteRequest readRequest(int argc, char** argv) {
  if (geteuid() != 0 || argc != 2)
    throw ImagerError::message("Administrator authorisation is required.");
  return decodeRequest(argv[1]);
}

WriteRequest decodeRequest(std::string_view argument) {
  const auto bytes = decodeBase64(argument);
  if (!bytes || bytes->size() > kMaximumRequestBytes)
    throw ImagerError::message("Invalid write request.");
  WriteRequest request = WriteRequest::decode(*bytes);
  request.validate();
  return request;
}

}  // namespace Intake
