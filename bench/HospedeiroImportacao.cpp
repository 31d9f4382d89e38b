// kavlo_hospedeiro: a host that calls ImportarArquivo and nothing else, as the payroll application
// does, so that the exported import is measured without the check `kavlo importar` runs first.
//   kavlo_hospedeiro MesAtual Ano CaminhoBanco CaminhoArquivo CaminhoLoad Folhas VerificaMargem
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "util/Codificacao.h"

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr,
                     "Uso: kavlo_hospedeiro MesAtual Ano CaminhoBanco CaminhoArquivo CaminhoLoad "
                     "Folhas VerificaMargem\n");
        return 2;
    }
    try {
        std::vector<kavlo::CadeiaHost> a;
        for (int i = 1; i < argc; ++i) a.emplace_back(kavlo::DeUtf8(argv[i]));
        ImportarArquivo(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
