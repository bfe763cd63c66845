#include "tools/corpus.h"

#include <filesystem>
#include <map>

#include "common/fatal_error.h"

namespace labeler::tool {

std::vector<std::string> DistinctStems(const std::vector<std::string>& paths) {
  std::vector<std::string> stems;
  std::map<std::string, std::string> pathOfStem;
  for (const std::string& path : paths) {
    const std::string stem = std::filesystem::path(path).stem().string();
    const auto [earlier, fresh] = pathOfStem.emplace(stem, path);
    if (!fresh) {
      throw FatalError(ErrorLine(earlier->second + " and " + path + " are both named '" + stem +
                                 "'; their outputs would overwrite each other, rename one"));
    }
    stems.push_back(stem);
  }
  return stems;
}

std::vector<std::string> DistinctFolderNames(const std::vector<std::string>& paths) {
  const std::vector<std::string> stems = DistinctStems(paths);
  for (size_t i = 0; i < stems.size(); ++i) {
    if (stems[i].empty() || stems[i] == "." || stems[i] == "..") {
      throw FatalError(ErrorLine(paths[i] + " gives no folder name of its own ('" + stems[i] + "'); rename it"));
    }
  }
  return stems;
}

void CreateOutputFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::is_directory(folder, error)) {
    throw FatalError(ErrorLine("cannot create the output folder " + folder));
  }
}

}  // namespace labeler::tool
