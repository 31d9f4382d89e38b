#include "import/ArquivosDaImportacao.h"

#include "dao/BancoFolha.h"
#include "import/RelatorioSemMargem.h"

namespace kavlo {

std::vector<PapelDeArquivo> ArquivosDaImportacao::Papeis(bool daFerramenta) const {
    std::vector<PapelDeArquivo> r = {
        {"o arquivo de resultado", CaminhoDe(resultado)},
        {"o relatório de servidores sem margem", CaminhoDe(relatorio)},
        {"o arquivo de retorno", CaminhoDe(retorno)},
        {"a cópia do relatório de servidores sem margem", CaminhoDe(copiaRelatorio)},
        {"o arquivo das linhas recusadas", CaminhoDe(recusadas)}};
    if (daFerramenta) r.push_back({"o arquivo de verificação do retorno", CaminhoDe(verificacao)});
    return r;
}

ArquivosDaImportacao NomesDaImportacao(std::u16string_view caminhoBanco,
                                       std::u16string_view resultado, std::u16string_view retorno,
                                       bool simular) {
    ArquivosDaImportacao a;
    a.resultado = resultado;
    a.relatorio = CaminhoRelatorio(SemLocalhost(caminhoBanco), resultado);
    if (simular) {
        a.resultado = NomeDeSimulacao(a.resultado);
        a.relatorio = NomeDeSimulacao(a.relatorio);
    }
    a.verificacao = NomeComMarca(a.resultado, u"VERIFICACAO");
    a.copiaRelatorio = NomeComMarca(a.resultado, u"SemMargem");
    a.recusadas = NomeComMarca(a.resultado, u"Recusadas");
    a.retorno = retorno;
    return a;
}

void ConferirArquivosDaImportacao(const ArquivosDaImportacao& arquivos,
                                  std::u16string_view caminhoBanco, fb::Conexao& conexao,
                                  bool daFerramenta) {
    std::vector<PapelDeArquivo> todos = arquivos.Papeis(daFerramenta);
    for (auto& banco : PapeisDoBanco(caminhoBanco, conexao)) todos.push_back(std::move(banco));
    ConferirArquivosDistintos(todos);
}

}  // namespace kavlo
