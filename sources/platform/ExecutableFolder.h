#pragma once

#include <string>

// The folder of the running program's real executable, links resolved (from /proc/self/exe); empty
// when the system does not say. Plain C++: the launcher finds its body by it, without Qt.
std::string ExecutableFolder();
