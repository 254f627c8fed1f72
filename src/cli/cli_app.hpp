#pragma once
// The `tessellarium` command-line program. Exit status: 0 success, 1 the job
// failed or was stopped, 2 bad usage or bad input (one line on stderr says why).

namespace tess {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int run_cli(int argc, char** argv);

}  // namespace tess
