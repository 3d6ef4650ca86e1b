// JPEGs through libjpeg-turbo: decoded as the image library decodes them,
// written as the library writes them, with the source's markers carried.
#include <gtest/gtest.h>

#include "cli/image_io.h"
#include "cli/jpeg_file.h"
#include "cli_test_support.h"

namespace velvetshade::test {
namespace {

namespace fs = std::filesystem;

TEST(Jpeg, ReadAndWrittenAsTheLibraryDoesWithTheSourcesMarkers) {
    const TempDir dir("jpeg");
    const fs::path in = dir.path / "in.jpg";
    WriteImage(in, RandomPixels(45, 31, 3, 8, 9), {{"Artist", "A. Photographer"}, {"ImageDescription", "a harbour"}});
    std::string error;
    for (const int depth : {0, 8, 16}) {
        Image ours, theirs;
        ASSERT_TRUE(velvetshade::ReadImage(in, depth, ours, error)) << error;
        EXPECT_FALSE(ours.source) << "read through the image library";
        ASSERT_TRUE(VelvetshadeImageLibrary()->read(in, depth, theirs, error)) << error;
        EXPECT_EQ(ours.depth, theirs.depth);
        EXPECT_FALSE(ours.has_alpha);
        EXPECT_TRUE(ours.pixels8 == theirs.pixels8) << "depth " << depth;
        EXPECT_TRUE(ours.pixels16 == theirs.pixels16) << "depth " << depth;
    }

    Image image;
    ASSERT_TRUE(velvetshade::ReadImage(in, 0, image, error)) << error;
    ASSERT_TRUE(CanWriteJpegDirectly(image));
    const fs::path ours = dir.path / "ours.jpg", theirs = dir.path / "theirs.jpg";
    ASSERT_TRUE(WriteJpeg(ours, ours, image, error)) << error;
    std::vector<std::string> notes;
    ASSERT_TRUE(VelvetshadeImageLibrary()->write(theirs, theirs, image, nullptr, notes, error)) << error;
    EXPECT_TRUE(ReadImage(ours).data == ReadImage(theirs).data) << "encoded unlike the library";
    OIIO::ImageSpec spec;
    ReadImage(ours, &spec);
    EXPECT_EQ(spec.get_string_attribute("Artist"), "A. Photographer");
    EXPECT_EQ(spec.get_string_attribute("ImageDescription"), "a harbour");

    // To another format the Exif tags go too, read by the library.
    const fs::path tif = dir.path / "out.tif";
    ASSERT_TRUE(velvetshade::WriteImage(tif, tif, image, notes, error)) << error;
    ReadImage(tif, &spec);
    EXPECT_EQ(spec.get_string_attribute("Artist"), "A. Photographer");
    EXPECT_EQ(spec.get_string_attribute("ImageDescription"), "a harbour");

    // A failed write is reported; grey JPEGs are left to the library.
    EXPECT_FALSE(WriteJpeg("/dev/full", "full.jpg", image, error));
    EXPECT_EQ(error.rfind("cannot write full.jpg: ", 0), 0u) << error;
    WriteImage(dir.path / "grey.jpg", RandomPixels(8, 8, 1, 8, 3));
    bool handled = true;
    EXPECT_FALSE(ReadJpeg(dir.path / "grey.jpg", 0, image, handled, error));
    EXPECT_FALSE(handled);
    ASSERT_TRUE(velvetshade::ReadImage(dir.path / "grey.jpg", 0, image, error)) << error;
    EXPECT_TRUE(image.source) << "grey goes through the library";
}

}  // namespace
}  // namespace velvetshade::test
