#include "drive_table.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "plain_text.h"
#include "sizes.h"

std::string driveTable(std::vector<TargetDisk> disks) {
  if (disks.empty()) return "No drive that the writer would accept is attached.\n";
  // disk9 before disk10: shorter names first.
  std::sort(disks.begin(), disks.end(), [](const TargetDisk& a, const TargetDisk& b) {
    return std::pair(a.bsd.size(), a.bsd) < std::pair(b.bsd.size(), b.bsd);
  });
  std::vector<std::array<std::string, 4>> rows{{"DISK", "SIZE", "BUS", "NAME"}};
  for (const TargetDisk& disk : disks)
    rows.push_back({plainText(disk.bsd), sizeText(static_cast<int64_t>(disk.capacity)), plainText(disk.bus),
                    plainText(disk.name)});
  std::array<size_t, 3> width{};
  for (const auto& row : rows)
    for (size_t column = 0; column < width.size(); ++column)
      width[column] = std::max(width[column], row[column].size());
  std::string table;
  for (const auto& row : rows) {
    table += row[0] + std::string(width[0] - row[0].size() + 2, ' ');
    // Sizes line up on the right.
    table += std::string(width[1] - row[1].size(), ' ') + row[1] + "  ";
    table += row[2] + std::string(width[2] - row[2].size() + 2, ' ') + row[3] + "\n";
  }
  return table;
}
