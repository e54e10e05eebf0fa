// Shared by the two plug-in hosts (output and image import): where plug-ins are found.
#pragma once

#include <string>
#include <vector>

// The files matching pattern ("*.qvp", "*.spi") in the running program's own folder, in
// search order (by name), and that folder with its trailing separator. False when the
// program's path cannot be had or nothing matches.
bool search_beside_program(const char* pattern, std::string& folder,
                           std::vector<std::string>& files);
