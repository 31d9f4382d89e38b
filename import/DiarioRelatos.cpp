// What the journal tells: an import described, the refusal of a file already imported, and
// whether an import whose commit lost its answer went through.
#include <chrono>
#include <cstdio>
#include <thread>

#include "dao/BancoFolha.h"
#include "import/Diario.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"

namespace kavlo {

std::string DescreverImportacao(const ImportacaoRegistrada& i) {
    char referencia[32];
    std::snprintf(referencia, sizeof referencia, "%02d/%04d", i.mes, i.ano);
    return "importação " + std::to_string(i.id) + " de " +
           ParaUtf8(FormatarData(i.quando, u"dd/mm/yyyy hh:nn")) + " por " +
           ParaMensagem(i.usuario) + " em " + ParaMensagem(i.maquina) + ", para " + referencia +
           ", do arquivo " + Aspas(i.arquivo) + " (" + std::to_string(i.descontadas) +
           (i.descontadas == 1 ? " parcela descontada" : " parcelas descontadas") + ", total R$ " +
           ReaisLegiveis(i.totalCentavos) + ")";
}

std::string JaImportado(const ImportacaoRegistrada& anterior, std::u16string_view arquivo) {
    const std::string id = std::to_string(anterior.id);
    return "O arquivo de retorno " + Aspas(arquivo) + " já foi importado na tabela " +
           ParaMensagem(anterior.tabela) +
           " deste banco de dados, com as mesmas linhas: " + DescreverImportacao(anterior) +
           ". O mesmo arquivo é reconhecido pelas linhas que traz, qualquer que seja seu nome, "
           "sua codificação, suas quebras de linha ou o ano informado. Nada foi lançado agora. "
           "Para importar o mesmo arquivo de novo, estorne antes a importação " +
           id + " (kavlo estornar --importacao " + id +
           ") ou, se a intenção é mesmo lançar as parcelas outra vez, use kavlo importar "
           "--reimportar.";
}

EstadoGravacao VerificarGravacao(std::u16string_view caminhoBanco, int32_t id, int64_t transacao,
                                 double segundos, std::string& motivo) {
    using Relogio = std::chrono::steady_clock;
    const auto limite = Relogio::now() + std::chrono::duration<double>(segundos);
    for (;;) {
        try {
            fb::Conexao conexao;
            AbrirBancoDaFolha(conexao, caminhoBanco);
            // First whether the import's transaction still lives (the server may still be
            // committing it); only once it is gone does an absent row mean "not committed".
            bool viva;
            {
                fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
                fb::Comando c(t,
                              std::string_view("select 1 from MON$TRANSACTIONS where "
                                               "MON$TRANSACTION_ID = ?"),
                              "verificar se a importação foi gravada");
                fb::Cursor r = c.Abrir({transacao});
                viva = r.Proximo();
            }
            fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
            fb::Comando c(t, std::string_view("select 1 from KAVLO_IMPORTACAO where ID = ?"),
                          "verificar se a importação foi gravada");
            fb::Cursor r = c.Abrir({int64_t{id}});
            if (r.Proximo()) return EstadoGravacao::Gravada;
            if (!viva) return EstadoGravacao::NaoGravada;
            motivo = "a transação da importação ainda está aberta no servidor";
        } catch (const Erro& e) {
            motivo = e.what();
        }
        if (Relogio::now() >= limite) return EstadoGravacao::Desconhecida;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

}  // namespace kavlo
