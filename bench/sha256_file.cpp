// fwup_sha256_file: the virtual printer's SHA-256 of a file, read in the
// program's 8192-byte blocks, printed as sha256sum prints it. scripts/bench
// times it against `openssl dgst -sha256` of the same file.
//
//   fwup_sha256_file [--portable] FILE
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/digest/sha256.h"
#include "core/transfer/command_set.h"

int main(int argc, char** argv) {
    using fwup::sim::Sha256;
    const bool portable = argc == 3 && std::strcmp(argv[1], "--portable") == 0;
    if (argc != 2 && !portable) {
        std::fputs("usage: fwup_sha256_file [--portable] FILE\n", stderr);
        return 2;
    }
    const char* path = argv[argc - 1];
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file) {
        std::perror(path);
        return 1;
    }
    Sha256 hash(portable ? Sha256::Engine::Portable : Sha256::best_engine());
    std::vector<std::uint8_t> block(fwup::kTransferBlockSize);
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), file.get());
        hash.update(block.data(), got);
        if (got < block.size()) break;
    }
    if (std::ferror(file.get()) != 0) {
        std::perror(path);
        return 1;
    }
    std::printf("%s  %s\n", hash.hex_digest().c_str(), path);
    return 0;
}
