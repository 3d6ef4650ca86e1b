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

// What our own PNG (png) or TIFF writer leaves out of image's metadata, into notes.
void NoteLeftOut(const Image& image, bool png, std::vector<std::string>& notes);

// Whether there is a writer for the file name's extension.
// False with the reason when no image of path's name can be written; *by_name
// (when given) tells a name no format takes, a usage error, from a library
// that cannot be loaded.
bool CanWriteImage(const std::filesystem::path& path, std::string& error, bool* by_name = nullptr);

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
// Pages read one after another through one open reader, none kept: a GIF's
// frames build on each other, so reading frame n afresh would decode every
// frame before it again.
class PageReader {
public:
    virtual ~PageReader() = default;
    // page from 0, in order; the first page is what ReadImage reads.
    virtual bool Read(int page, int depth, Image& image, std::string& error) = 0;
};
std::unique_ptr<PageReader> OpenPages(const std::filesystem::path& path, std::string& error);

// Whether the format named by the extension holds several images in a file.
bool CanWritePages(const std::filesystem::path& path);

// Pages encoded into one file as they come, each let go once added: only the
// file's bytes are kept (in a file in memory) until Finish hands them to
// sink. notes gets what the format could not keep, once for all pages.
class PageWriter {
public:
    virtual ~PageWriter() = default;
    // source: the description to write page with (as the library's encode takes it).
    virtual bool Add(const Image& page, const LibraryDescription* source, std::vector<std::string>& notes,
                     std::string& error) = 0;
    virtual bool Finish(const ByteSink& sink, std::string& error) = 0;
};
// Pages of images read without the library are described by it as they are added.
std::unique_ptr<PageWriter> WritePages(const std::filesystem::path& format_path, std::string& error);

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
    // Null with error set when the file cannot be opened.
    PageReader* (*open_pages)(const std::filesystem::path& path, std::string& error);
    int (*count_pages)(const std::filesystem::path& path);
    bool (*can_write_pages)(const std::filesystem::path& path);
    PageWriter* (*write_pages)(const std::filesystem::path& format_path, std::string& error);
};

}  // namespace velvetshade

// Exported by the image library module.
extern "C" const velvetshade::ImageLibrary* VelvetshadeImageLibrary();
