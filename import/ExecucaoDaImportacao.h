// The import's pass over the return file, inside its transaction: every line read, decided,
// posted and written to the result file, the report and the rejected lines as it comes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dao/EventosMes.h"
#include "import/ArquivoRetorno.h"
#include "import/ArquivosDaImportacao.h"
#include "import/CadastroServidores.h"
#include "import/ImportacaoKavlo.h"
#include "import/Lancamento.h"
#include "import/TabelaDeducao.h"
#include "util/ArquivoTemporario.h"
#include "util/Caminhos.h"
#include "util/Utils.h"

namespace kavlo {

namespace fb {
class Transacao;
}  // namespace fb

// What the import takes from the controller, read once by Importar and handed down.
struct Pedido {
    int32_t mes, ano;
    std::u16string mesTexto, anoTexto, tabela, cadastro, folhas, referencia;
    std::u16string retorno, hash, resultado, relatorio, banco, caminhoBanco;
    std::u16string verificaMargem;
    std::string hashConteudo;  // of the return file's lines
    bool estrito;
    OpcoesImportacao opcoes;
    ArquivosDaImportacao arquivos;
};

// Lines whose CPF and name are both another person's than the payroll's servant of the key: the
// count, and the first of them, which the refusal quotes.
struct LinhasDeOutrasPessoas {
    struct Linha {
        size_t numero;
        uint32_t indice;
        std::u16string cpf, nome;
    };
    int64_t total = 0;
    std::vector<Linha> primeiras;

    void Incluir(size_t numero, uint32_t indice, std::u16string_view linha) {
        if (total++ < static_cast<int64_t>(LinhasIgnoradas::kGuardadas))
            primeiras.push_back({numero, indice, std::u16string(LerCampo(linha, retorno::Cpf)),
                                 std::u16string(Aparar(LerCampo(linha, retorno::Nome)))});
    }
};

// One run over the return file inside the import's transaction: every line read, decided, posted
// and written to the result file and the report as it comes. A servant's postings are written
// once the return file has no later line for it, in batches.
class Execucao {
  public:
    Execucao(fb::Transacao& transacao, const Pedido& pedido, int32_t id, ArquivoDeRetorno& arquivo);

    // The roles of the lines are decided by place: the first is the header, the last the
    // trailer, every one between an instalment.
    void Linhas(ResumoImportacao& resumo);

    // Writes the postings and closes the files; they are then complete.
    void Concluir();

    // The files to put in place, all closed.
    std::vector<ArquivoTemporario*> Arquivos();
    // Why the report is not in the database's folder; empty when it is.
    const std::string& AvisoRelatorio() const { return avisoRelatorio_; }

  private:
    void Parcela(size_t numero, std::u16string_view linha, ResumoImportacao& resumo);

    // A line not posted goes to the rejected lines as the file has it; its amount joins their
    // total when it converts (a line whose servant was not found is never converted otherwise).
    void Recusar(std::u16string_view linha, ResumoImportacao& resumo);

    void Relatar(const std::u16string& entrada);

    void SemRelatorio(const ErroArquivo& e);

    const Pedido& pedido_;
    ArquivoDeRetorno& arquivo_;
    TabelaDeducao tabela_;
    GravadorLancamentos gravador_;
    const EventosMes situacao_;
    const CadastroServidores cadastro_;
    LinhasDeOutrasPessoas outras_;
    ArquivoTemporario resultado_;
    ArquivoTemporario copiaRelatorio_;
    ArquivoTemporario recusadas_;
    std::optional<ArquivoTemporario> relatorio_;
    std::string avisoRelatorio_;
};

}  // namespace kavlo
