// The exit codes scripts rely on; the help and the README list them.
#pragma once

namespace qvota::cli {

inline constexpr int EXIT_ALL_VERIFIED = 0;
inline constexpr int EXIT_SOME_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_IMAGE_REFUSED = 3;
inline constexpr int EXIT_INTERRUPTED = 130; // 128 + SIGINT, as shells report it

} // namespace qvota::cli
