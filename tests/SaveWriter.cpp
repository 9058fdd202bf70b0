// Saves a generated file slowly, block by block, so that a test can kill it
// part-way: save-writer PATH BLOCKS. Block n holds the byte 'a' + n % 26.
// save-writer PATH BLOCKS SUFFIX writes a copy beside PATH instead, as the
// emergency copy is written.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "document/FileAccess.h"

#if defined(__SANITIZE_ADDRESS__)
#include <unistd.h>
// The leak checker of a sanitizer build reads /proc, and fails the process
// where a test hides it; it cannot run there anyway.
extern "C" const char* __asan_default_options() {
    return ::access("/proc/self/task", F_OK) == 0 ? "" : "detect_leaks=0";
}
#endif

int main(int argc, char* argv[]) {
    if (argc != 3 && argc != 4)
        return 2;
    constexpr size_t block = 131072;
    const int64_t blocks = std::atoll(argv[2]);
    std::vector<char> buffer(block);
    const BlockSource source = [&](int64_t start, size_t count) {
        std::memset(buffer.data(), 'a' + int(start / int64_t(block)) % 26, count);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return buffer.data();
    };
    if (argc == 4) {
        std::string written;
        return SaveCopyBeside(argv[1], argv[3], blocks * int64_t(block), block, source, written)
                       .Ok()
                   ? 0
                   : 1;
    }
    return SaveFile(argv[1], blocks * int64_t(block), block, source).Ok() ? 0 : 1;
}
