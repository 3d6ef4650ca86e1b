#include "cli/system/text_file.h"

#include "cli/system/output_file.h"

namespace velvetshade {

bool WriteTextFile(const std::filesystem::path& path, std::string_view text, bool overwrite,
                   std::string& error) {
    PendingFile pending;
    return pending.Create(path, error) && pending.Write(text.data(), text.size(), error) &&
           pending.Commit(overwrite, error);
}

}  // namespace velvetshade
