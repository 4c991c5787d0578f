// "Version Up": the add-on on an installed card brought to the version
// beside the program, its configuration kept as a backup.
#pragma once

namespace install {

// The handler of command 212.
void VersionUp();

}  // namespace install
