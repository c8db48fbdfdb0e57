#pragma once

#include <string>

// Lists a model's meshes, what its scene holds after the weld, the files it read and the
// problems in its data. Returns the exit status: 0, or 1 when it holds no usable mesh.
int ListModel(const std::string& file, bool includeLods);
