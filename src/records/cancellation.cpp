#include "records/cancellation.h"

#include "records/imager_error.h"

void Cancellation::check() const {
  if (stopped()) throw ImagerError::cancelled();
}
