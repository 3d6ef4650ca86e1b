// A 3D LUT of the look for other grading tools, as a .cube file (the
// Adobe/Resolve text format). Only what the look does to a colour wherever it
// lies can be a LUT: the vignette and the dodge depend on the position.
#pragma once

#include <string>
#include <vector>

#include "cli/images/image_io.h"

namespace velvetshade {

// The parameters a LUT sets to 0: the position-dependent part of the look.
inline const char* const kPositionParams[] = {"Vignetting Amount", "Dodge"};

bool IsCubeSize(int size);  // 17, 33 or 65

// A 16-bit image holding every lattice colour once, red varying fastest, then
// green, then blue: pixel (r + g * size, b). Each lattice value i / (size - 1)
// is exact on the host's 0..32768 scale and survives the file scale both ways.
Image LatticeImage(int size);

// The .cube text of a rendered lattice: comment lines first ("# " added),
// the title, then the entries, each the host's 16-bit value / 32768, written
// exactly.
std::string CubeText(const Image& rendered, int size, const std::vector<std::string>& comments,
                     const std::string& title);

}  // namespace velvetshade
