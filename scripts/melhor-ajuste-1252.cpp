// Windows' own conversion to code page 1252, one UTF-16 code unit at a time: for every unit
// 0x0000-0xFFFF in order, the byte WideCharToMultiByte(1252, 0, ...) gives for that unit alone,
// 65,536 bytes into the file named by the argument. scripts/gerar-melhor-ajuste.sh builds it with
// MinGW and runs it under wine to make util/MelhorAjuste1252.inc.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s <arquivo do mapa>\n", argv[0]);
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    for (unsigned u = 0; u <= 0xFFFF; ++u) {
        const auto unidade = static_cast<wchar_t>(u);
        char bytes[8];
        const int n =
            WideCharToMultiByte(1252, 0, &unidade, 1, bytes, sizeof bytes, nullptr, nullptr);
        // A code unit alone must give exactly one byte, or fixed widths would not hold.
        if (n != 1) {
            std::fprintf(stderr, "U+%04X: %d bytes (erro %lu)\n", u, n, GetLastError());
            return 1;
        }
        std::fputc(bytes[0], f);
    }
    if (std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
