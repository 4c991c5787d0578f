#include "disk/partition_order.h"

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

}  // namespace disk
