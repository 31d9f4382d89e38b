#include "import/ImportacoesInterrompidas.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "dao/BancoFolha.h"
#include "import/Diario.h"
#include "util/Codificacao.h"
#include "util/Substituicao.h"

namespace kavlo {
namespace {

constexpr std::string_view kMarca = "importacao";

struct Decisao {
    int32_t id = 0;
    int64_t transacao = 0;
    std::u16string banco;
};

// "importacao <id> <transaction>" and the database on the next line.
std::optional<Decisao> LerDecisao(std::string_view texto) {
    const size_t quebra = texto.find('\n');
    if (quebra == std::string_view::npos || !texto.starts_with(kMarca)) return std::nullopt;
    Decisao d;
    long long id = 0, transacao = 0;
    const std::string numeros(texto.substr(kMarca.size(), quebra - kMarca.size()));
    if (std::sscanf(numeros.c_str(), " %lld %lld", &id, &transacao) != 2) return std::nullopt;
    d.id = static_cast<int32_t>(id);
    d.transacao = transacao;
    d.banco = DeUtf8(texto.substr(quebra + 1));
    return d;
}

std::string Lista(const ColocacaoPendente& c, bool anteriores) {
    std::string r;
    for (const auto& item : c.itens)
        r += (r.empty() ? "'" : ", '") +
             NomeParaMensagem(anteriores ? item.anterior : item.destino) + "'";
    return r;
}

}  // namespace

std::string DecisaoDaImportacao(int32_t id, int64_t transacao, std::u16string_view caminhoBanco) {
    // A file opened embedded by a relative path is found again from any folder.
    std::u16string banco(caminhoBanco);
    if (ArquivoDoBanco(banco)) {
        std::error_code ec;
        const Caminho absoluto = std::filesystem::absolute(CaminhoDe(banco), ec);
        if (!ec) banco = TextoDoCaminho(absoluto);
    }
    return std::string(kMarca) + " " + std::to_string(id) + " " + std::to_string(transacao) + "\n" +
           ParaUtf8(banco);
}

std::vector<std::string> AcertarImportacoesInterrompidas(const std::vector<Caminho>& destinos,
                                                         double espera) {
    std::vector<std::string> motivos;  // of the sets left as they were, in the order settled
    auto decidir = [&](const ColocacaoPendente& c) {
        std::string motivo;
        const auto d = LerDecisao(c.decisao);
        DestinoDaColocacao destino = DestinoDaColocacao::Manter;
        if (!d) {
            motivo = "o registro não diz qual importação era";
        } else {
            switch (VerificarGravacao(d->banco, d->id, d->transacao, espera, motivo)) {
                case EstadoGravacao::Gravada:
                    destino = DestinoDaColocacao::Valer;
                    break;
                case EstadoGravacao::NaoGravada:
                    destino = DestinoDaColocacao::Desfazer;
                    break;
                case EstadoGravacao::Desconhecida:
                    break;
            }
        }
        motivos.push_back(motivo);
        return destino;
    };
    std::vector<std::string> avisos;
    const auto acertadas = AcertarColocacoes(destinos, decidir);
    for (size_t i = 0; i < acertadas.size(); ++i) {
        const ColocacaoAcertada& a = acertadas[i];
        const auto d = LerDecisao(a.colocacao.decisao);
        const std::string quem = d ? "A importação " + std::to_string(d->id) + " do banco '" +
                                         ParaMensagem(d->banco) + "'"
                                   : "Uma importação";
        const std::string arquivos = Lista(a.colocacao, false);
        std::string m;
        switch (a.destino) {
            case DestinoDaColocacao::Valer:
                m = quem +
                    " foi interrompida depois de gravada (consta do diário): os arquivos que ela "
                    "deixou (" +
                    arquivos + ") valem, e os anteriores, guardados ao lado, foram descartados.";
                break;
            case DestinoDaColocacao::Desfazer:
                m = quem +
                    " foi interrompida antes de gravar (não consta do diário): nenhuma parcela "
                    "dela foi lançada, e os arquivos que ela deixou (" +
                    arquivos +
                    ") voltaram a ser os anteriores, ou foram removidos onde não havia anteriores. "
                    "Importe o arquivo de retorno de novo.";
                for (const auto& item : a.alterados)
                    m += " O arquivo '" + NomeParaMensagem(item.destino) +
                         "' foi trocado por outro depois da interrupção e ficou como está; o "
                         "anterior a ela continua em '" +
                         NomeParaMensagem(item.anterior) + "'.";
                break;
            case DestinoDaColocacao::Manter:
                m = quem + " foi interrompida, e não foi possível saber se ela foi gravada (" +
                    motivos[i] + "): os arquivos que ela deixou (" + arquivos +
                    ") e os anteriores, guardados ao lado (" + Lista(a.colocacao, true) +
                    "), foram mantidos como estão. A próxima importação confere de novo pelo "
                    "diário; para ver agora se ela foi gravada, use kavlo importacoes" +
                    (d ? " --banco '" + ParaMensagem(d->banco) + "'" : std::string()) + ".";
                break;
        }
        avisos.push_back(m);
    }
    return avisos;
}

}  // namespace kavlo
