// Still images in and out, by format: TIFFs go through libtiff
// (cli/tiff_file.h), most PNGs through libpng and JPEGs through libjpeg;
// every other format through OpenImageIO, a module of its own loaded on first
// use.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/images/image.h"

namespace velvetshade {

// depth: 8 or 16 to force, 0 to choose from the file (8-bit files at 8,
// anything deeper or float at 16). workers decode parts of a file side by side.
bool ReadImage(const std::filesystem::path& path, int depth, Image& image, std::string& error,
               const Workers& workers = {}, const RowsRead& rows_read = {});

// Whether there is a writer for the file name's extension.
bool CanWriteImage(const std::filesystem::path& path, std::string& error);

// Encodes image into bytes, in memory, in the format named by path's
// extension, or into settings.sink (see there): no encoder touches the disk,
// so none can ignore a failed write or end the process on one; the caller
// writes with checked writes. notes gets what the format could not keep
// (alpha in a JPEG, say).
bool EncodeImage(const std::filesystem::path& path, const Image& image, std::vector<std::string>& notes,
                 std::vector<unsigned char>& bytes, std::string& error, const WriteSettings& settings = {});

// Images holding several (GIF frames, TIFF pages): how many, 1 for most
// files, 0 when it cannot tell.
int CountPages(const std::filesystem::path& path);
// page from 0; the first page is what ReadImage reads.
bool ReadPage(const std::filesystem::path& path, int depth, int page, Image& image, std::string& error);
// Whether the format named by the extension holds several images in a file.
bool CanWritePages(const std::filesystem::path& path);
bool EncodePages(const std::filesystem::path& path, const std::vector<Image>& pages,
                 std::vector<std::string>& notes, std::vector<unsigned char>& bytes, std::string& error,
                 const WriteSettings& settings = {});

// The image library module's entry points.
struct ImageLibrary {
    bool (*read)(const std::filesystem::path& path, int depth, Image& image, std::string& error);
    bool (*can_write)(const std::filesystem::path& path, std::string& error);
    // source: the description to write image with (image.source, or one
    // found by describe), null for a generated image.
    bool (*encode)(const std::filesystem::path& path, const Image& image, const LibraryDescription* source,
                   std::vector<std::string>& notes, std::vector<unsigned char>& bytes, std::string& error);
    // The description the library reads from a file, without its pixels.
    bool (*describe)(const std::filesystem::path& path, std::shared_ptr<const LibraryDescription>& description,
                     std::string& error);
    bool (*read_page)(const std::filesystem::path& path, int depth, int page, Image& image, std::string& error);
    int (*count_pages)(const std::filesystem::path& path);
    bool (*can_write_pages)(const std::filesystem::path& path);
    bool (*encode_pages)(const std::filesystem::path& path, const std::vector<Image>& pages,
                         std::vector<std::string>& notes, std::vector<unsigned char>& bytes, std::string& error);
};

}  // namespace velvetshade

// Exported by the image library module.
extern "C" const velvetshade::ImageLibrary* VelvetshadeImageLibrary();
