// "New Install": a card that starts the add-on by itself, in one guided
// sequence.
#pragma once

namespace install {

// The handler of command 210.
void NewInstall();

}  // namespace install
