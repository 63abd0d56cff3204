#pragma once

#include <filesystem>

namespace lumacap {

// The user's home folder: $HOME, else the password database.
std::filesystem::path homeDirectory();

// Where Lumacap keeps its data: $XDG_DATA_HOME/Lumacap, else
// ~/.local/share/Lumacap. Holds history.json, Captures/ and Sessions/.
std::filesystem::path dataRoot();

}  // namespace lumacap
