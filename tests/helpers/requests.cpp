#include "helpers/requests.h"

WriteRequest validRequest() {
  WriteRequest request;
  request.version = 1;
  request.source = "/Users/alice/Downloads/os.img.xz";
  request.inspection = {4096, 8192, std::string(64, 'a'), std::string(64, 'b')};
  request.target = {"disk4", "SanDisk Ultra", 32'000'000'000, 4294970000, "USB"};
  request.uid = 501;
  request.socket = "/private/tmp/ori-0123abcd-4567-89ab-cdef-0123456789ab/s";
  request.nonce = "8D2A1F3C-1B2E-4F5A-9C7D-0E1F2A3B4C5D";
  return request;
}
