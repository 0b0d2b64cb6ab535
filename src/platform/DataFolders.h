#pragma once
// Where Ondrel's data files are looked for, in the order the desktop's data
// folders rank them: the user's own, the system's, then the installation's
// (found from the program, so an install moved elsewhere still finds its data).
#include <string>
#include <vector>

namespace ondrel {

// $XDG_DATA_HOME/ondrel, else ~/.local/share/ondrel; empty when neither can be told.
std::string userDataFolder();
// ondrel/ in each folder of $XDG_DATA_DIRS (by default /usr/local/share and /usr/share).
std::vector<std::string> systemDataFolders();
// The installation's share/ondrel, beside the bin folder the program lies in;
// empty when the program's place cannot be told.
std::string installDataFolder();

}  // namespace ondrel
