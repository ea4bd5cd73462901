// quorvin-cli: the headless program. Runs its command line the way the window does when
// started with one, then ends with an exit status scripts can test.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "platform/reporter.h"
#include "platform/text.h"
#include "run/runner.h"
#include "run/startup.h"

namespace {

constexpr std::string_view kUsage =
    "usage: quorvin-cli '<settings list>'        run on fifteen \"|\"-separated settings\n"
    "       quorvin-cli -save '<settings list>'  ... and save them as the system's preset\n"
    "       quorvin-cli -preset NAME             run a saved preset (quote a NAME with blanks)\n"
    "       quorvin-cli --revert <as above>      give renamed files their earlier names back\n"
    "       quorvin-cli --verify <as above>      also inflate zipped ROMs and check their CRCs\n"
    "       quorvin-cli --rehash <as above>      read every ROM again, not its CRC from the cache\n"
    "       quorvin-cli -h | --help | --version\n"
    "\n"
    "Settings, in order: MESS folder | ROM folders (\";\"-separated) | extension | system |\n"
    "description | author | convert ROMs to good names (0/1) | artwork folders | output dat |\n"
    "Dragon King folder | make config (0/1) | add ROM paths (0/1) | add artwork paths (0/1) |\n"
    "add virtual directory (0/1) | copy dat to list generator (0/1)\n"
    "\"-save\" counts only as an argument of its own or a word before or after the list;\n"
    "\"-preset\" only as the first argument.\n"
    "\n"
    "Renamed files take the good name in its own letter case; --revert gives back each file's\n"
    "earlier name exactly (conversions/<system>.cnv records both).\n"
    "\n"
    "Exit status: 0 done; 3 done with warnings (something was skipped or failed, each shown\n"
    "as \"Warning: ...\"); 1 stopped (a failure, a refusal); 2 a malformed command line.\n"
    "\n"
    "Checksums of ROM files that have not changed since an earlier run come from the CRC\n"
    "cache, crccache.db in the program's folder; --rehash reads every file and renews it.\n"
    "\n"
    "Files live in $QUORVIN_HOME (else beside the program, else ~/.local/share/quorvin;\n"
    "on Windows %LOCALAPPDATA%\\Quorvin).\n";

// Status texts on stderr: one line updated in place on a terminal, otherwise one line per
// status text without the per-file ones. Messages become "<title>: <text>".
class StderrReporter : public quorvin::Reporter {
 public:
  explicit StderrReporter(bool tty) : tty_(tty) {}
  ~StderrReporter() override { EndLine(); }

  void SetStatus(std::string_view text) override {
    file_line_.clear();
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
    file_line_ = total > 0 ? "[" + std::to_string(done + 1) + "/" + std::to_string(total) + "] "
                           : "[" + std::to_string(done + 1) + "] ";
    file_line_.append(text);
    std::fprintf(stderr, "\r\033[K%s", file_line_.c_str());
    open_line_ = true;
    std::fflush(stderr);
  }
  // A large file in hand: its line again, with how much of it has been read.
  void SetFileBytes(uint64_t done, uint64_t total) override {
    if (!tty_ || file_line_.empty()) return;
    std::fprintf(stderr, "\r\033[K%s (%s)", file_line_.c_str(),
                 quorvin::ByteProgressText(done, total).c_str());
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
  std::string file_line_;  // the last per-file line on a terminal
};

}  // namespace

int main(int argc, char** argv) {
  const bool tty = quorvin::PrepareConsole();
  std::vector<std::string> args = quorvin::ProgramArguments(argc, argv);
  if (args.empty()) {
    std::fputs(kUsage.data(), stderr);
    return quorvin::kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage.data(), stdout);
    return quorvin::kExitDone;
  }
  if (args[0] == "--version") {
    std::puts("quorvin-cli 1.0.0");
    return quorvin::kExitDone;
  }
  bool revert = false;
  bool rehash = false;
  constexpr std::string_view kRevert = "--revert";
  constexpr std::string_view kRehash = "--rehash";
  constexpr std::string_view kVerify = "--verify";
  // The options come first, in any order, as arguments of their own or joined to the list
  // ("--revert <list>"). "--verify", an argument of its own, is ParseCommandLine's: it is
  // handed back to it in front.
  bool verify = false;
  while (!args.empty()) {
    if (args[0] == kVerify) {
      verify = true;
      args.erase(args.begin());
      continue;
    }
    bool* flag = nullptr;
    std::string_view word;
    for (auto [w, f] : {std::pair{kRevert, &revert}, std::pair{kRehash, &rehash}}) {
      if (args[0] == w || args[0].starts_with(std::string(w) + " ")) {
        word = w;
        flag = f;
      }
    }
    if (flag == nullptr) break;
    *flag = true;
    if (args[0] == word) {
      args.erase(args.begin());
    } else {
      args[0].erase(0, word.size() + 1);
    }
  }
  if (args.empty()) {
    std::fputs(kUsage.data(), stderr);
    return quorvin::kExitUsage;
  }
  if (verify) args.insert(args.begin(), std::string(kVerify));

  StderrReporter reporter(tty);
  // A malformed command line is refused before anything is created or read.
  auto command_line = quorvin::ParseCommandLine(args);
  if (!command_line.ok()) {
    reporter.Message(command_line.status().Title(), command_line.status().message());
    std::fputs("quorvin-cli --help shows the forms.\n", stderr);
    return quorvin::kExitUsage;
  }
  const std::string folder = quorvin::ResolveProgramFolder(quorvin::ExecutableFolder());
  if (quorvin::Status s = quorvin::PrepareProgramFolder(folder); !s.ok()) {
    reporter.Message(s.Title(), s.message());
    return quorvin::kExitStopped;
  }
  quorvin::Runner runner(folder, reporter);
  runner.Rehash = rehash;
  quorvin::Status s = quorvin::RunCommandLine(runner, *command_line, revert);
  return quorvin::ExitStatusOf(s, runner.warnings());
}
