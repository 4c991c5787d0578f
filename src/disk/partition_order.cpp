#include "disk/partition_order.h"

#include "disk/card_disk.h"
#include "disk/partition_table.h"

namespace disk {

bool SwapWithPrompts(PartitionOrder& order, bool largeFirstAfter) {
  bool written = false;
  const int result = SwapPartitionEntries(false, written);
  if (written) order.largeFirst = largeFirstAfter;
  return result == 0;
}

bool SwapBackQuietly(PartitionOrder& order) {
  if (SwapPartitionEntries(true) != 0) return false;
  order.largeFirst = false;
  return true;
}

bool ReachPartition(PartitionOrder& order, const TableEntry& entry, bool largeFirstAfter,
                    std::string& root) {
  root = RootOfPartition(entry);
  if (!root.empty()) return true;
  return SwapWithPrompts(order, largeFirstAfter) && FindPartitionRoot(entry, root);
}

bool LeftLargeFirst(const PartitionOrder& order) {
  return order.largeFirst && SameCard() && LargePartitionFirst();
}

}  // namespace disk
