// pack_component IMAGE OUTPUT: writes the linked component IMAGE with its resource fork and
// trailer appended to OUTPUT. Runs on the build host after linking.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "component_resources.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IMAGE OUTPUT\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    if (image.empty()) {
        std::fprintf(stderr, "%s is empty or missing\n", argv[1]);
        return 1;
    }
    const std::string packed = pramble::packComponent(image);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(packed.data(), std::streamsize(packed.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
