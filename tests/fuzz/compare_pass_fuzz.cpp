// The compare pass over arbitrary dat text: with a database that knows no game the output
// equals the input line for line; with one that knows some, only the games' own lines change
// or are added, and no line moves from one block to another.
#include <string>

#include "compare_check.h"
#include "fuzz_util.h"
#include "inject/crc_database.h"

using namespace quorvin;

namespace {

struct Fixture {
  std::string sandbox;
  CrcDatabase empty;
  CrcDatabase known;
};

Fixture& Get() {
  static Fixture f = [] {
    Fixture x;
    x.sandbox = fuzz::FreshSandbox("compare");
    fuzz::MakeDirs(x.sandbox + "/crc");
    fuzz::WriteFile(x.sandbox + "/crc/nes.crc",
                    "[nes]\r\n11=First Game (E) [!] | 1987 | Maker | good\r\n"
                    "22=Second: Game/2 | | \"quoted\" |\r\n33=\r\n0000004A=Padded\r\n"
                    "44= | 1990\r\n55=a b\r\n");
    x.known = CrcDatabase::Load(x.sandbox + "/crc/nes.crc").value();
    return x;
  }();
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& f = Get();
  const std::string dat(reinterpret_cast<const char*>(data), size);
  fuzz::RunAndCheckComparePass(f.sandbox, dat, f.empty, true);
  fuzz::RunAndCheckComparePass(f.sandbox, dat, f.known, false);
  return 0;
}
