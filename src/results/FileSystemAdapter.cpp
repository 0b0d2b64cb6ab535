#include "results/FileSystemAdapter.h"

#include "results/DisplayFormat.h"

namespace ondrel {

std::string FileSystemAdapter::sizeText(EntryId entry) const { return formatSize(size(entry)); }

}  // namespace ondrel
