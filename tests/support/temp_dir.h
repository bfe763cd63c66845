// TempDir: a fresh folder for one test's files, removed with everything in it when the test ends.
#ifndef LABELER_TESTS_SUPPORT_TEMP_DIR_H_
#define LABELER_TESTS_SUPPORT_TEMP_DIR_H_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace labeler::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "labeler-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

  // Writes `content` byte for byte into the file `name` and returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream out(path_ / name, std::ios::binary);
    out << content;
    return File(name);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_TEMP_DIR_H_
