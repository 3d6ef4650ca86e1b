// Pictures turned upright: a camera's orientation tag, or a video's
// rotation, applied to the pixels, for what is composed of them (before and
// after side by side, a contact sheet) and so cannot carry the tag.
#pragma once

#include "cli/images/image.h"

namespace velvetshade {

// The Exif orientation (1..8) that shows stored pixels as a video's display
// matrix turns them (degrees counterclockwise, as FFmpeg reads the matrix):
// 1 for none, or for an angle that is not a quarter turn.
int OrientationOfRotation(double degrees);

// Turns or mirrors the pixels as image.tags.orientation says they are to be
// shown, and drops the orientation wherever the image carries it (its tags,
// its Exif block, a JPEG source's Exif, the image library's description):
// the pixels are upright now. Images without an orientation are left as
// they are.
void TurnUpright(Image& image);

}  // namespace velvetshade
