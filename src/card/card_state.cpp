#include "card/card_state.h"

namespace card {

CardState gCardState;
DriveSlotTable gDriveSlots{};

bool CardIdentified() { return !gCardState.physicalDrivePath.empty(); }

}  // namespace card
