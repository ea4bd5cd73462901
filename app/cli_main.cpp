// quorvin-cli: the headless program. Joins its arguments into one command line and runs it
// the way the window does when started with one, then ends.

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/path.h"
#include "platform/reporter.h"
#include "run/runner.h"
#include "run/startup.h"

namespace {

constexpr std::string_view kUsage =
    "usage: quorvin-cli '<settings list>'        run on fifteen \"|\"-separated settings\n"
    "       quorvin-cli -save '<settings list>'  ... and save them as the system's preset\n"
    "       quorvin-cli -preset NAME             run a saved preset\n"
    "       quorvin-cli --revert <as above>      give renamed files their earlier names back\n"
    "       quorvin-cli --help | --version\n"
    "\n"
    "Settings, in order: MESS folder | ROM folders (\";\"-separated) | extension | system |\n"
    "description | author | convert ROMs to good names (0/1) | artwork folders | output dat |\n"
    "Dragon King folder | make config (0/1) | add ROM paths (0/1) | add artwork paths (0/1) |\n"
    "add virtual directory (0/1) | copy dat to list generator (0/1)\n"
    "\n"
    "Files live in $QUORVIN_HOME (else beside the program, else ~/.local/share/quorvin).\n";

// Status texts on stderr: one line updated in place on a terminal, otherwise one line per
// status text without the per-file ones. Messages become "<title>: <text>".
class StderrReporter : public quorvin::Reporter {
 public:
  StderrReporter() : tty_(::isatty(STDERR_FILENO) == 1) {}
  ~StderrReporter() override { EndLine(); }

  void SetStatus(std::string_view text) override {
    if (tty_) {
      std::fprintf(stderr, "\r\033[K%.*s", static_cast<int>(text.size()), text.data());
      open_line_ = true;
    } else {
      std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    }
    std::fflush(stderr);
  }
  void SetFileStatus(std::string_view text, size_t done, size_t total) override {
    if (!tty_) return;
    if (total > 0) {
      std::fprintf(stderr, "\r\033[K[%zu/%zu] %.*s", done + 1, total, static_cast<int>(text.size()),
                   text.data());
    } else {
      std::fprintf(stderr, "\r\033[K[%zu] %.*s", done + 1, static_cast<int>(text.size()),
                   text.data());
    }
    open_line_ = true;
    std::fflush(stderr);
  }
  void Message(std::string_view title, std::string_view text) override {
    EndLine();
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
                 static_cast<int>(text.size()), text.data());
  }
  void Warning(std::string_view text) override {
    EndLine();
    std::fprintf(stderr, "Warning: %.*s\n", static_cast<int>(text.size()), text.data());
  }

 private:
  void EndLine() {
    if (open_line_) std::fputc('\n', stderr);
    open_line_ = false;
  }
  bool tty_;
  bool open_line_ = false;
};

std::string ExecutableFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return quorvin::FolderOf(std::string_view(buf, static_cast<size_t>(n)));
}

}  // namespace

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line.push_back(' ');
    line.append(argv[i]);
  }
  if (argc < 2) {
    std::fputs(kUsage.data(), stderr);
    return 2;
  }
  if (line == "--help") {
    std::fputs(kUsage.data(), stdout);
    return 0;
  }
  if (line == "--version") {
    std::puts("quorvin-cli 1.0.0");
    return 0;
  }
  bool revert = false;
  constexpr std::string_view kRevert = "--revert";
  if (line == kRevert || line.rfind(std::string(kRevert) + " ", 0) == 0) {
    revert = true;
    line.erase(0, std::min(line.size(), kRevert.size() + 1));
    if (line.empty()) {
      std::fputs(kUsage.data(), stderr);
      return 2;
    }
  }

  StderrReporter reporter;
  const std::string folder = quorvin::ResolveProgramFolder(ExecutableFolder());
  if (quorvin::Status s = quorvin::PrepareProgramFolder(folder); !s.ok()) {
    reporter.Message(s.Title(), s.message());
    return 1;
  }
  quorvin::Runner runner(folder, reporter);
  quorvin::Status s = quorvin::RunCommandLine(runner, line, revert);
  return quorvin::ExitStatusOf(s, runner.warnings());
}
