// quelvar-report: answers from the filed calls. See README, "For the accounts office".
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: quelvar-report index|calls|summary|status [options]\n", stderr);
        return 2;
    }
    std::fprintf(stderr, "quelvar-report: unknown command: %s\n", argv[1]);
    return 2;
}
