#pragma once
// The advanced search of a file system whose advanced mode reads its one
// journal: the journal is the only candidate, so nothing is asked.
#include "fs/FileSystemAdapter.h"

#include <cstdint>
#include <string>

namespace ondrel {

// at: the journal's byte in the volume, -1 when there is none (noJournal is
// then the notice). blockSize gives the sectors-per-cluster parameter.
AdvancedSearch journalSearch(std::int64_t at, std::uint32_t blockSize, const std::string& noJournal);

// Takes the one journal; any other pick is refused, naming what a volume has one of.
bool chooseTheJournal(const AdvancedChoice& choice, const std::string& oneOf, std::string& failure);

}  // namespace ondrel
