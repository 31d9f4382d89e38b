// A process that dies in the middle of an import, at a chosen moment, for the tests of what the
// next import settles: "antes" ends it once the result file and the report are in place, just
// before the commit; "depois" just after the commit, before the earlier files are dropped.
//   kavlo_importacao_interrompida antes|depois MES ANO BANCO RESULTADO RETORNO FOLHAS VERIFICA
#include <cstdio>
#include <cstdlib>
#include <string>

#include "entry/Chamadas.h"
#include "util/Codificacao.h"

int main(int argc, char** argv) {
    using namespace kavlo;
    if (argc != 9) {
        std::fprintf(stderr,
                     "uso: %s antes|depois MES ANO BANCO RESULTADO RETORNO FOLHAS "
                     "VERIFICA\n",
                     argv[0]);
        return 2;
    }
    const std::string momento = argv[1];
    OpcoesImportacao opcoes;
    auto morrer = [] { std::_Exit(9); };
    (momento == "antes" ? opcoes.antesDoCommit : opcoes.depoisDoCommit) = morrer;
    try {
        ImportarRetorno({DeUtf8(argv[2]), DeUtf8(argv[3]), DeUtf8(argv[4]), DeUtf8(argv[5]),
                         DeUtf8(argv[6]), DeUtf8(argv[7]), DeUtf8(argv[8])},
                        opcoes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;  // the moment never came
}
