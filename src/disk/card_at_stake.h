// Before a command erases or rewrites a card, the user is told which card it
// is and what it holds, and may stop there: one slip erases the wrong disk.
#pragma once

namespace disk {

// What the command does to the card of CardState.
enum class Stake {
  Card,    // erases the whole card
  Volume,  // erases the volume of the selected letter
  Table,   // rewrites the order of its partitions
};

// A box that names the card (its letter, size, vendor and model) and each
// partition it touches (its letter, file system, label and the space its
// files take), and says what will happen to it. True only on Yes.
bool ConfirmCardAtStake(Stake stake);

}  // namespace disk
