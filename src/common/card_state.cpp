#include "common/card_state.h"

namespace common {

CardState gCardState;
DriveSlotTable gDriveSlots{};

bool CardIdentified() { return !gCardState.physicalDrivePath.empty(); }

std::string PhysicalDrivePath(std::uint32_t deviceNumber) {
  return "\\\\.\\PHYSICALDRIVE" + std::to_string(deviceNumber);
}

}  // namespace common
