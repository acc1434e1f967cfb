#include "native/ori.h"

extern "C" int ori_safe_target(int protected_known, int is_protected, int is_external,
                               int is_physical, uint64_t size) {
  return protected_known == 1 && is_protected == 0 && is_external == 1 && is_physical == 1 &&
                 size != 0
             ? 1
             : 0;
}
