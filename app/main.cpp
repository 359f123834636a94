#include <cstdio>

int main() {
    std::printf("\r\nVELK LZHUF-Decoder Version 1.0.6 (18-SEP-2019)\n");
    std::printf("==============================================\n\n");
    return 0;
}
