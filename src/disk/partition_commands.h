// The partition buttons: swap the first two entries, create one or two
// partitions.
#pragma once

namespace disk {

// Command 208.
void SwapPartitionsCommand();
// Command 211.
void CreatePartitionCommand();
// Command 209, sent by command 211 for two partitions.
void WriteDualPartitionCommand();

}  // namespace disk
