// The programs as `cmake --install` and the Debian package lay them out, run from the installed copy with no
// display, so that neither they nor these tests lean on the build tree or on an X server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace labeler {
namespace {

using testing::TempDir;

const std::vector<std::string> kPrograms = {"labeler", "labeler-tool", "labeler-demo"};

struct CommandRun {
  int status;
  std::string output;  // standard output only: standard error goes to the test's log
};

CommandRun RunCommand(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int raw = pclose(pipe);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, output};
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The build installed into a prefix of this process's own, once; its status is checked by every test.
class InstalledPrograms : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Install().status, 0) << "cmake --install failed"; }

  static const TempDir& Prefix() {
    static const TempDir prefix;
    return prefix;
  }

  // Runs an installed program with DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM removed from its environment.
  static CommandRun RunInstalled(const std::string& program, const std::string& arguments) {
    return RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + Prefix().File("bin/" + program) +
                      " " + arguments);
  }

 private:
  static const CommandRun& Install() {
    static const CommandRun run =
        RunCommand(std::string(CMAKE_COMMAND) + " --install " + BUILD_DIR + " --prefix " + Prefix().path().string());
    return run;
  }
};

TEST_F(InstalledPrograms, EachPrintsItsNameAndTheProjectVersion) {
  for (const std::string& program : kPrograms) {
    const CommandRun run = RunInstalled(program, "--version");
    EXPECT_EQ(run.status, 0) << program;
    EXPECT_EQ(run.output, program + " " + PROJECT_VERSION + "\n");
  }
}

TEST_F(InstalledPrograms, EachPrintsItsUsageOnStandardOutput) {
  for (const std::string& program : kPrograms) {
    const CommandRun run = RunInstalled(program, "--help");
    EXPECT_EQ(run.status, 0) << program;
    EXPECT_EQ(run.output.rfind("usage: " + program + " ", 0), 0u) << run.output;
  }
}

TEST_F(InstalledPrograms, LabelerHelpNamesTheMetaFileAndTheManualPage) {
  const CommandRun run = RunInstalled("labeler", "--help");
  EXPECT_NE(run.output.find("usage: labeler FILE.meta\n"), std::string::npos);
  EXPECT_NE(run.output.find("meta file"), std::string::npos);
  EXPECT_NE(run.output.find("man labeler"), std::string::npos);
}

// Each command's own --help, wherever it stands among the command's arguments, is that command's usage alone.
TEST_F(InstalledPrograms, ToolHelpListsEveryCommandAndEachCommandsHelpIsItsUsage) {
  const std::string help = RunInstalled("labeler-tool", "--help").output;
  for (const std::string command : {"segment", "export", "import", "stats", "carry", "assist"}) {
    const std::string usage = "usage: labeler-tool " + command + " ";
    EXPECT_NE(help.find(usage), std::string::npos) << command;
    const CommandRun own = RunInstalled("labeler-tool", command + " --meta x.meta --help");
    EXPECT_EQ(own.status, 0) << command;
    EXPECT_EQ(own.output.rfind(usage, 0), 0u) << own.output;
    EXPECT_EQ(own.output.find("usage: ", 1), std::string::npos) << "only the usage of " << command;
  }
}

TEST_F(InstalledPrograms, ToolCountsTheLabelsOfADemoClip) {
  TempDir demo;
  ASSERT_EQ(RunInstalled("labeler-demo", demo.path().string()).status, 0);
  const CommandRun run = RunInstalled("labeler-tool", "stats --csv --meta " + demo.File("demo.meta"));
  ASSERT_EQ(run.status, 0);
  const std::vector<std::string> rows = Lines(run.output);
  ASSERT_EQ(rows.size(), 62u);  // the header, the demo's 60 frames, the total
  EXPECT_EQ(rows.front(), "frame,has_label_image,sky,road,car,tree,person,grass,lane_marking,unlabelled,unknown");
  EXPECT_EQ(rows[1].rfind("0,0,", 0), 0u);
  EXPECT_EQ(rows.back().rfind("total,0,", 0), 0u);
}

TEST_F(InstalledPrograms, DesktopEntryStartsTheInstalledLabeller) {
  const std::vector<std::string> entry = Lines(ReadFile(Prefix().path() / "share/applications/labeler.desktop"));
  ASSERT_FALSE(entry.empty());
  EXPECT_EQ(entry.front(), "[Desktop Entry]");
  for (const char* line : {"Type=Application", "Exec=labeler %f", "Terminal=false", "Categories=Graphics;Science;"}) {
    EXPECT_NE(std::find(entry.begin(), entry.end(), line), entry.end()) << line;
  }
  EXPECT_TRUE(std::filesystem::exists(Prefix().path() / "bin/labeler"));
}

// Every page has its title line and a NAME section whose line man's index reads ("name \- what it does"), and
// groff formats it without a warning.
TEST_F(InstalledPrograms, EachHasAManualPage) {
  for (const std::string& program : kPrograms) {
    const std::filesystem::path page = Prefix().path() / "share/man/man1" / (program + ".1");
    const std::vector<std::string> lines = Lines(ReadFile(page));
    ASSERT_FALSE(lines.empty()) << page;
    std::string title = program;
    for (char& c : title) c = static_cast<char>(std::toupper(c));
    EXPECT_EQ(lines.front().rfind(".TH " + title + " 1 ", 0), 0u) << lines.front();
    const auto name = std::find(lines.begin(), lines.end(), ".SH NAME");
    ASSERT_NE(name, lines.end()) << page;
    ASSERT_NE(name + 1, lines.end()) << page;
    EXPECT_NE(name[1].find(" \\- "), std::string::npos) << name[1];
    const CommandRun groff = RunCommand("groff -man -Tutf8 -ww -z " + page.string() + " 2>&1");
    EXPECT_EQ(groff.status, 0);
    EXPECT_EQ(groff.output, "") << page;
  }
}

// The Debian package, made by cpack from the same build into a folder of its own.
TEST(DebianPackage, HoldsTheProgramsDesktopEntryAndManualPages) {
  TempDir out;
  const CommandRun cpack = RunCommand(std::string(CPACK_COMMAND) + " -G DEB --config " + BUILD_DIR +
                                      "/CPackConfig.cmake -B " + out.path().string() + " >/dev/null");
  ASSERT_EQ(cpack.status, 0);
  std::filesystem::path deb;
  for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
    if (entry.path().extension() == ".deb") deb = entry.path();
  }
  ASSERT_FALSE(deb.empty());
  const std::string contents = RunCommand("dpkg-deb --contents " + deb.string()).output;
  for (const std::string& program : kPrograms) {
    EXPECT_NE(contents.find(" ./usr/bin/" + program + "\n"), std::string::npos) << program;
    EXPECT_NE(contents.find(" ./usr/share/man/man1/" + program + ".1"), std::string::npos) << program;
  }
  EXPECT_NE(contents.find(" ./usr/share/applications/labeler.desktop\n"), std::string::npos);
  EXPECT_EQ(RunCommand("dpkg-deb --field " + deb.string() + " Package").output, "labeler\n");
  const std::string depends = RunCommand("dpkg-deb --field " + deb.string() + " Depends").output;
  EXPECT_NE(depends.find("libqt6widgets6"), std::string::npos) << depends;
  EXPECT_NE(depends.find("libopencv-core"), std::string::npos) << depends;
}

}  // namespace
}  // namespace labeler
