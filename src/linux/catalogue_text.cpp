// Apart from templates.cpp: the string table comes through the host, and the
// window, which has none, reads the templates all the same.
#include <array>

#include "host/host.h"
#include "linux/templates.h"

namespace linuxhost {

std::string CatalogueText(unsigned id) {
  std::array<char, 256> text{};
  host::LoadString(id, text.data(), static_cast<int>(text.size()));
  return text.data();
}

}  // namespace linuxhost
