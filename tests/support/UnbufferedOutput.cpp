// Linked into every Windows test program: its output is unbuffered, so a program ended on its
// time-out keeps every line it wrote until then (the C runtime buffers a pipe fully).
#include <cstdio>

namespace {
const bool g_unbuffered =
    std::setvbuf(stdout, nullptr, _IONBF, 0) == 0 && std::setvbuf(stderr, nullptr, _IONBF, 0) == 0;
} // namespace
