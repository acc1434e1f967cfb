// The disk utility on a fixture sysfs shaped like real machines, judged the
// way the writer judges it: which disks are offered, and which disks a
// protected path lies on.

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <map>

#include "disk_utility.h"
#include "disks/candidate.h"
#include "disks/protected_disks.h"
#include "helpers/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A sysfs laid out under a directory as the kernel lays out /sys; links are
// absolute, into the directory itself.
class SysfsTree {
 public:
  explicit SysfsTree(std::string root) : root_(std::move(root)) {}

  // One device on the way to a disk: its directory name, its subsystem
  // (empty: none) and attributes.
  struct Step {
    std::string name, subsystem;
    std::map<std::string, std::string> attributes;
  };

  // A whole disk at the end of `chain` (empty: a virtual disk), with its
  // size in bytes, diskseq and other attributes ("ro" and "hidden" 0 unless
  // given).
  void disk(const std::vector<Step>& chain, const std::string& name, const std::string& dev,
            uint64_t bytes, uint64_t sequence, std::map<std::string, std::string> extra = {}) {
    std::string at = root_ + "/devices" + (chain.empty() ? "/virtual" : "");
    for (const Step& step : chain) {
      at += "/" + step.name;
      fs::create_directories(at);
      if (!step.subsystem.empty() && !fs::is_symlink(at + "/subsystem")) {
        fs::create_directories(root_ + "/bus/" + step.subsystem);
        link(root_ + "/bus/" + step.subsystem, at + "/subsystem");
      }
      for (const auto& [key, value] : step.attributes) writeFile(at + "/" + key, value + "\n");
    }
    const std::string dir = block(name, at + "/block/" + name, dev);
    if (!chain.empty()) link(at, dir + "/device");
    extra.try_emplace("ro", "0");
    extra.try_emplace("hidden", "0");
    extra["size"] = std::to_string(bytes / 512);
    extra["diskseq"] = std::to_string(sequence);
    for (const auto& [key, value] : extra) writeFile(dir + "/" + key, value + "\n");
  }
  void partition(const std::string& disk, const std::string& name, unsigned number,
                 const std::string& dev) {
    writeFile(block(name, dirs_.at(disk) + "/" + name, dev) + "/partition",
              std::to_string(number) + "\n");
  }
  // `holder` (a dm or md disk) is built on `slave`.
  void holds(const std::string& holder, const std::string& slave) {
    link(dirs_.at(holder), dirs_.at(slave) + "/holders/" + holder);
    link(dirs_.at(slave), dirs_.at(holder) + "/slaves/" + slave);
  }
  void link(const std::string& target, const std::string& at) {
    fs::create_directories(fs::path(at).parent_path());
    fs::create_symlink(target, at);
  }
  std::string dir(const std::string& name) const { return dirs_.at(name); }

 private:
  std::string block(const std::string& name, const std::string& dir, const std::string& dev) {
    dirs_[name] = dir;
    fs::create_directories(dir + "/holders");
    fs::create_directories(dir + "/slaves");
    writeFile(dir + "/dev", dev + "\n");
    link(dir, root_ + "/class/block/" + name);
    link(dir, root_ + "/dev/block/" + dev);
    return dir;
  }
  std::string root_;
  std::map<std::string, std::string> dirs_;
};

using Step = SysfsTree::Step;

const Step kPci{"pci0000:00", "", {}};
const Step kXhci{"0000:00:14.0", "pci", {}};

// A USB mass-storage device (`driver` "usb-storage" or "uas") with a SCSI disk.
std::vector<Step> usbDisk(const std::string& port, const std::string& vendor,
                          const std::string& model) {
  return {kPci, kXhci, {"usb1", "usb", {}},
          {port, "usb", {{"manufacturer", "Maker"}, {"product", "Stick"}}},
          {port + ":1.0", "usb", {}}, {"host7", "", {}}, {"target7:0:0", "", {}},
          {"7:0:0:0", "scsi", {{"vendor", vendor}, {"model", model}}}};
}

std::vector<Step> mmcCard(const std::string& host, const std::string& type,
                          const std::string& name) {
  return {kPci, {"0000:00:14.5", "pci", {}}, {host, "", {}},
          {host + ":aaaa", "mmc", {{"type", type}, {"name", name}}}};
}

// One machine: every kind of disk below, its mounts and swap.
struct Machine {
  TempDir dir;
  SysfsTree tree{dir.path()};
  KernelView view;
  std::map<std::string, dev_t> nodes;

  Machine() {
    const std::vector<Step> sata{kPci, {"0000:00:17.0", "pci", {}}, {"ata1", "", {}},
                                 {"host0", "", {}}, {"target0:0:0", "", {}},
                                 {"0:0:0:0", "scsi", {{"vendor", "ATA     "},
                                                      {"model", "Samsung SSD 870 "}}}};
    tree.disk(sata, "sda", "8:0", 512110190592, 1);
    tree.partition("sda", "sda1", 1, "8:1");
    tree.partition("sda", "sda2", 2, "8:2");
    tree.disk(usbDisk("1-10", "SanDisk ", "Cruzer Blade    "), "sdz", "8:64", 134217728, 275);
    tree.partition("sdz", "sdz1", 1, "8:65");
    tree.disk(usbDisk("2-1", "Samsung ", "PSSD T7         "), "sdv", "65:16", 500107862016, 276);
    tree.disk(usbDisk("1-4", "Generic-", "SD/MMC          "), "sdy", "8:16", 0, 277);
    tree.disk(usbDisk("1-16", "Kingston", "DataTraveler    "), "sdx", "8:32", 15728640000, 278,
              {{"ro", "1"}});
    tree.disk(usbDisk("1-17", "Vendor  ", "Hidden          "), "sdu", "65:0", 1 << 30, 279,
              {{"hidden", "1"}});
    tree.disk(usbDisk("1-18", "Vendor  ", "Swap            "), "sdt", "65:32", 1 << 30, 280);
    tree.partition("sdt", "sdt1", 1, "65:33");
    tree.disk(usbDisk("1-19", "WD      ", "Elements        "), "sdw", "65:48", 1 << 30, 281);
    tree.disk(usbDisk("1-20", "WD      ", "Passport        "), "sdb", "8:80", 1 << 30, 282);
    tree.partition("sdb", "sdb1", 1, "8:81");
    tree.disk(usbDisk("1-21", "WD      ", "Passport        "), "sdc", "8:96", 1 << 30, 283);
    tree.disk(usbDisk("1-22", "        ", ""), "sds", "65:64", 1 << 30, 289);
    tree.disk({}, "dm-0", "253:0", 1 << 30, 284);
    tree.holds("dm-0", "sdw");
    tree.disk({}, "dm-1", "253:1", 1 << 30, 285);
    tree.holds("dm-1", "sda2");
    tree.holds("dm-1", "sdc");
    tree.disk({kPci, {"0000:00:1d.0", "pci", {{"removable", "removable"}}}, {"nvme", "", {}},
               {"nvme0", "nvme", {{"model", "WD Black SN770"}}}},
              "nvme0n1", "259:0", 1000204886016, 2);
    tree.disk(mmcCard("mmc0", "SD", "SC32G"), "mmcblk0", "179:0", 31914983424, 286);
    tree.disk(mmcCard("mmc1", "MMC", "AJTD4R"), "mmcblk1", "179:8", 31268536320, 3);
    tree.disk({}, "loop0", "7:0", 1 << 30, 287);
    fs::create_directories(tree.dir("loop0") + "/loop");
    writeFile(tree.dir("loop0") + "/loop/backing_file", "/media/stick/os.img\n");
    tree.disk({}, "zram0", "252:0", 1 << 30, 288);
    for (const std::string member : {"sdb1", "sda1"})
      tree.link(tree.dir(member), dir.path() + "/fs/btrfs/5a7e/devices/" + member);

    view.sys = dir.path();
    view.mountInfo =
        "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"
        "2 1 0:30 / /tmp rw - tmpfs tmpfs rw\n"
        "3 1 253:1 / /srv rw - ext4 /dev/mapper/pool rw\n"
        "4 1 0:40 / /data rw - btrfs /dev/sdb1 rw\n"
        "5 1 0:41 / /merged rw - overlay overlay rw,lowerdir=/srv/low:/usr,upperdir=/data/up\n"
        "6 1 8:65 / /media/stick rw - vfat /dev/sdz1 rw\n"
        "7 1 7:0 / /media/os rw - ext4 /dev/loop0 ro\n"
        "8 1 0:55 / /media/net rw - fuse.sshfs host:/ rw\n";
    view.swaps = "Filename\tType\tSize\tUsed\tPriority\n/dev/sdt1 partition 1048572 0 -2\n";
    view.mountIdOf = [this](const std::string& path) -> std::optional<uint64_t> {
      const std::pair<const char*, uint64_t> mounts[] = {
          {"/tmp", 2}, {"/srv", 3}, {"/data", 4}, {"/merged", 5}, {"/media/stick", 6},
          {"/media/os", 7}, {"/media/net", 8}};
      for (const auto& [point, id] : mounts)
        if (path.rfind(point, 0) == 0) return id;
      return 1;
    };
    nodes = {{"/dev/sdb1", makedev(8, 81)}, {"/dev/sdt1", makedev(65, 33)},
             {"/dev/sdz", makedev(8, 64)}};
    view.nodeDevice = [this](const std::string& path) -> std::optional<dev_t> {
      const auto found = nodes.find(path);
      if (found == nodes.end()) return std::nullopt;
      return found->second;
    };
  }
};

std::vector<std::string> wholeDisks(const DiskUtility& utility) {
  const DiskInfo listing = DiskInfo::parse(utility.listExternalPhysical());
  std::vector<std::string> names;
  for (std::size_t i = 0; i < listing["WholeDisks"].size(); ++i)
    names.push_back(*listing["WholeDisks"].at(i).string());
  return names;
}

}  // namespace

TEST(DiskUtility, OffersUsbAndSdDisksOnlyNeverByTheRemovableFlag) {
  const Machine machine;
  const DiskUtility utility(machine.view);
  std::map<std::string, std::string> verdicts;
  for (const std::string& name : wholeDisks(utility)) {
    const auto target = DiskInventory::candidate(DiskInfo::parse(utility.info(name)), {"disk1"},
                                                 std::stoull(name.substr(4)));
    verdicts[name] = target ? target->bus + " " + target->name + " " +
                                  std::to_string(target->capacity)
                            : "refused";
  }
  const std::map<std::string, std::string> expected{
      {"disk275", "USB SanDisk Cruzer Blade 134217728"},   // usb-storage, removable 0
      {"disk276", "USB Samsung PSSD T7 500107862016"},     // UAS SSD, removable 0
      {"disk277", "refused"},                              // empty card reader: size 0
      {"disk278", "refused"},                              // write-protected
      {"disk282", "USB WD Passport 1073741824"},
      {"disk286", "SD SC32G 31914983424"},
      {"disk289", "USB Maker Stick 1073741824"},          // named by the USB device
  };
  // Not listed: SATA, NVMe, eMMC (internal); hidden; loop, zram, dm
  // (virtual); a disk that dm holds (sdw, sdc); active swap on a partition.
  EXPECT_EQ(verdicts, expected);
}

TEST(DiskUtility, WalksProtectedPathsDownToPhysicalDisks) {
  Machine machine;
  const DiskUtility utility(machine.view);
  const DiskLookup lookup = [&](const std::string& what) { return DiskInfo::parse(utility.info(what)); };
  const auto disksOf = [&](const std::string& path) {
    try {
      std::string out;
      for (const std::string& disk : DiskInventory::physicalStores(lookup(path), lookup))
        out += (out.empty() ? "" : " ") + disk;
      return out;
    } catch (const std::exception& error) {
      return std::string("error: ") + error.what();
    }
  };
  const struct {
    const char* path;
    std::string expected;
  } cases[] = {
      {"/home/alice", "disk1"},                    // root on a partition
      {"/tmp/x", "disk1"},                         // memory: the root file system's disk
      {"/srv/www", "disk1 disk283"},               // dm over a partition and a whole disk
      {"/data/x", "disk1 disk282"},                // btrfs over two partitions
      {"/merged/etc", "disk1 disk282 disk283"},    // overlay: its layers' disks
      {"/media/stick/os.img", "disk275"},          // the image on the stick itself
      {"/media/os/etc", "disk275"},                // a loop device's backing file
      {"/dev/sdz", "disk275"},
      {"/media/net/x", "error: Could not find disk: /media/net/x (no disk holds /media/net)"},
  };
  for (const auto& c : cases) EXPECT_EQ(disksOf(c.path), c.expected) << c.path;
}
