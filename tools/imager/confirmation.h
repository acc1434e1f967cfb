#pragma once

#include <vector>

#include "records/target_disk.h"

// Makes sure the writer can be started with administrator rights: the imager
// runs as root, or sudo grants them (asking for the password on a terminal).
// Throws Refusal (ExitCode::failed, or interrupted).
void ensureAdminRights();

// Shows each drive (name, model, size, bus) and asks on the terminal whether
// it may be erased. With `yes` it only shows them. Throws Refusal: usage
// when there is no terminal to ask, failed when the answer is not yes.
void confirmErasure(const std::vector<TargetDisk>& drives, bool yes);
