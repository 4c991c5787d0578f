// What a card holds, in the terms its user knows it by: its table and what
// each volume is.
#include "linux/host_state.h"
#include "linux/volume_facts.h"

namespace linuxhost {
namespace {

PartitionContents Describe(const Card& card, std::uint32_t number, std::uint64_t offset, std::uint8_t type) {
  PartitionContents contents;
  contents.number = number;
  contents.offset = offset;
  contents.type = type;
  const VolumeFacts facts = ReadVolumeFacts({card.path, offset});
  contents.fileSystem = facts.fileSystem;
  contents.label = facts.label;
  contents.usedKnown = facts.useKnown;
  if (facts.useKnown) contents.usedBytes = facts.dataBytes - facts.freeBytes;
  return contents;
}

}  // namespace

bool ContentsOfCard(char letter, CardContents& contents) {
  const Card* card = nullptr;
  const MappedVolume* shown = HostState::Get().VolumeAt(letter, &card);
  if (shown == nullptr) return false;
  contents = CardContents{};
  contents.disk = card->path;
  contents.bytes = card->bytes;
  contents.vendor = card->vendor;
  contents.model = card->model;
  contents.gpt = card->layout.gpt;
  std::uint32_t place = 0;
  // A card shown as one volume from its first byte has no table, whatever
  // its boot code holds where a table would be.
  const bool whole = shown->range.partitionNumber == 0 && shown->range.offset == 0;
  for (const LayoutEntry& entry : whole ? std::vector<LayoutEntry>{} : card->layout.entries) {
    ++place;
    if (entry.partitionLength == 0 || (!card->layout.gpt && (entry.type == 0 || IsExtended(entry.type)))) continue;
    contents.table = true;
    const std::uint32_t number = entry.partitionNumber != 0 ? entry.partitionNumber : place;
    contents.partitions.push_back(
        Describe(*card, number, entry.startingOffset, card->layout.gpt ? std::uint8_t{0} : entry.type));
  }
  contents.table = contents.table || card->layout.gpt;
  if (!contents.table) contents.partitions.push_back(Describe(*card, 0, 0, 0));
  for (PartitionContents& partition : contents.partitions) partition.shownAs = partition.offset == shown->range.offset;
  return true;
}

}  // namespace linuxhost
