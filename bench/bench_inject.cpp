#include "bench_util.h"

#include <cstdio>

namespace quorvin::bench {

int BenchInject() {
  std::puts("inject: not built yet");
  return 0;
}

}  // namespace quorvin::bench
