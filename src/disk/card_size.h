// Whether the card holds what it reports. A counterfeit card sold as 64 GB
// may hold 8 GB, and wrap every write beyond that onto its first sectors, or
// lose it.
#pragma once

#include <cstdint>
#include <vector>

namespace disk {

// The sectors the test writes, in order: pairs at every distance of whole
// MiB from half the card to its end, where a card whose flash ends on a
// whole MiB below its size wraps (a power of two included), and a spread
// over the whole card, the last sector included, past which a card that
// loses writes loses them.
std::vector<std::uint64_t> CardSizeSamples(std::uint64_t totalSectors);

// Writes a pattern of its own (the sector's number and a run id) to each
// sample, reads them and the first sector back past every cache, and puts
// every sector back as it was. False, after the message that says the card
// is counterfeit or faulty and what it holds where that can be told, when
// a pattern came back wrong or the first sector changed; after "Cannot write
// boot sector!" when the system refused a transfer: that is no verdict on
// the card; after the message that its data may have changed when a
// pattern could not be put back (the card pulled out).
bool ProveCardSize();

}  // namespace disk
