#include "cli/BancoDemo.h"

#include "dao/Firebird.h"
#include "util/Codificacao.h"

namespace kavlo::demo {

ResumoDemo CriarBancoDemo(const OpcoesDemo& opcoes) {
    fb::Conexao conexao;
    conexao.Criar(DeUtf8(opcoes.banco), "SYSDBA", "quillbank");
    return {};
}

}  // namespace kavlo::demo
