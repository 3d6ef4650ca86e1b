// The formats written without the image library are told by their file
// names' extensions, in any case, and by nothing else in the name.
#include <gtest/gtest.h>

#include "cli/images/jpeg_file.h"
#include "cli/images/png_file.h"
#include "cli/images/tiff_file.h"

namespace velvetshade {
namespace {

TEST(FormatFile, NamesInAnyCaseAndOnlyByTheExtension) {
    for (const char* tiff : {"shots/A.TIF", "b.Tiff"}) EXPECT_TRUE(IsTiffName(tiff)) << tiff;
    for (const char* jpeg : {"d.JPEG", "e.jpg"}) EXPECT_TRUE(IsJpegName(jpeg)) << jpeg;
    EXPECT_TRUE(IsPngName("c.PnG"));
    for (const char* other : {"f.tif.bak", "g.tiff2", "tif", "h.jpe", "tif.jpg/i", "j.png/"}) {
        EXPECT_FALSE(IsTiffName(other) || IsPngName(other) || IsJpegName(other)) << other;
    }
}

}  // namespace
}  // namespace velvetshade
