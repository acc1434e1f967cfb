#pragma once

// Makes sure descriptors 0 to 2 are open, on /dev/null where the parent left
// one closed, so that no descriptor opened later lands on them and reaches a
// child process as its standard input or output (and so that a child can be
// told to inherit them at all). Ends the process with status 1 when it
// cannot. Call it first, before anything opens a descriptor.
void reserveStandardDescriptors();
