#pragma once

// Ctrl-C and SIGTERM set a flag instead of ending the imager, so that it can
// stop its writers and say what state the drives are in. Blocking calls
// return EINTR (no SA_RESTART), so every loop sees the flag promptly.
void catchInterrupts();
bool interrupted();
