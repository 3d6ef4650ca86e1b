// JPEGs through libjpeg-turbo: decoded as the image library decodes them,
// written as the library writes them, with the source's markers carried.
#include <gtest/gtest.h>

#include <fstream>

#include "cli/images/image_io.h"
#include "cli/images/jpeg_file.h"
#include "cli_test_support.h"

namespace velvetshade::test {
namespace {

namespace fs = std::filesystem;

void Save(const fs::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

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
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(EncodeJpeg(ours, image, bytes, error)) << error;
    Save(ours, bytes);
    std::vector<std::string> notes;
    ASSERT_TRUE(VelvetshadeImageLibrary()->encode(theirs, image, nullptr, notes, bytes, error)) << error;
    Save(theirs, bytes);
    EXPECT_TRUE(ReadImage(ours).data == ReadImage(theirs).data) << "encoded unlike the library";
    OIIO::ImageSpec spec;
    ReadImage(ours, &spec);
    EXPECT_EQ(spec.get_string_attribute("Artist"), "A. Photographer");
    EXPECT_EQ(spec.get_string_attribute("ImageDescription"), "a harbour");

    // To another format the Exif tags go too, read through Exiv2.
    const fs::path tif = dir.path / "out.tif";
    ASSERT_TRUE(velvetshade::EncodeImage(tif, image, notes, bytes, error)) << error;
    Save(tif, bytes);
    ReadImage(tif, &spec);
    EXPECT_EQ(spec.get_string_attribute("Artist"), "A. Photographer");
    EXPECT_EQ(spec.get_string_attribute("ImageDescription"), "a harbour");

    // Grey JPEGs are left to the library.
    WriteImage(dir.path / "grey.jpg", RandomPixels(8, 8, 1, 8, 3));
    bool handled = true;
    EXPECT_FALSE(ReadJpeg(dir.path / "grey.jpg", 0, image, handled, error));
    EXPECT_FALSE(handled);
    ASSERT_TRUE(velvetshade::ReadImage(dir.path / "grey.jpg", 0, image, error)) << error;
    EXPECT_TRUE(image.source) << "grey goes through the library";
}

}  // namespace
}  // namespace velvetshade::test
