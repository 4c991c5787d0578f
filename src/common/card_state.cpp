#include "common/card_state.h"

namespace common {

CardState gCardState;
DriveSlotTable gDriveSlots{};

bool CardIdentified() { return !gCardState.physicalDrivePath.empty(); }

}  // namespace common
