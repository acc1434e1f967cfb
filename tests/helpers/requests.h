#pragma once

#include <string>

#include "records/write_request.h"

// A request that passes validation; tests change one field at a time.
WriteRequest validRequest();
