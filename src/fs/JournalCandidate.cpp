#include "fs/JournalCandidate.h"

namespace ondrel {

AdvancedSearch journalSearch(std::int64_t at, std::uint32_t blockSize, const std::string& noJournal) {
    AdvancedSearch out;
    out.chooseWithoutAsking = true;
    CandidateList journal{"journal", "JOURNAL", "", {}};
    if (at >= 0) journal.items.push_back({"JOURNAL_ENTRY:0", at});
    out.lists.push_back(std::move(journal));
    out.parameters.push_back({"sectors-per-cluster", {static_cast<int>(blockSize / 512)}, false, 0});
    out.message = at >= 0 ? "Number of JOURNAL-ENTRY found = 1 . Click Next to read the deleted files its copies still describe." : noJournal;
    out.doneStatus = "Parsing done.Click Next to continue.";
    return out;
}

bool chooseTheJournal(const AdvancedChoice& choice, const std::string& oneOf, std::string& failure) {
    if (choice.pick(0) == 0) return true;
    failure = "no JOURNAL_ENTRY:" + std::to_string(choice.pick(0)) + " (a volume has one " + oneOf + ")";
    return false;
}

}  // namespace ondrel
