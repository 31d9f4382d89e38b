#include "util/Substituicao.h"

#include <algorithm>
#include <cerrno>
#include <random>

#include "util/Erros.h"
#include "util/LeitorDeLinhas.h"
#include "util/Sha256.h"
#include "util/SistemaDeArquivos.h"

namespace kavlo {

Substituicao::~Substituicao() {
    if (!concluida_) Desfazer();
}

void Substituicao::Registrar(const std::vector<const ArquivoTemporario*>& arquivos,
                             std::string decisao) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::random_device rd;
    // One number for the whole set, free beside every destination: the record beside each one
    // and the name its earlier file is kept under share it.
    std::string numero;
    for (bool livre = false; !livre;) {
        numero = std::to_string(rd() % 1000000);
        livre = true;
        for (const ArquivoTemporario* a : arquivos)
            for (std::string_view marca : {".anterior", ".pendente"}) {
                Caminho c = a->Destino();
                c += std::string(marca) + numero;
                livre = livre && !fs::exists(c, ec);
            }
    }
    ColocacaoPendente c;
    c.decisao = std::move(decisao);
    for (const ArquivoTemporario* a : arquivos) {
        Caminho destino = fs::absolute(a->Destino(), ec);
        if (ec) destino = a->Destino();
        Caminho anterior = destino, registro = destino;
        anterior += ".anterior" + numero;
        registro += std::string(kMarcaRegistro) + numero;
        c.itens.push_back({destino, anterior, a->Hash()});
        c.registros.push_back(registro);
        anteriores_.emplace_back(a->Destino(), anterior);
    }
    // A copy where any later run looks, whatever its destinations; without it only a run for one
    // of these destinations finds the set.
    Caminho central;
    if (const Caminho pasta = PastaDasColocacoes(); !pasta.empty() && !arquivos.empty()) {
        fs::create_directories(pasta, ec);
        if (!ec) {
            central = pasta / ("colocacao-" + numero + "-" +
                               Sha256(CaminhoParaRegistro(c.itens.front().destino)).substr(0, 16));
            c.registros.push_back(central);
        }
    }
    const std::string texto = TextoDoRegistro(c);
    for (size_t i = 0; i < arquivos.size(); ++i) {
        Caminho temporario;
        do {
            temporario = c.itens[i].destino;
            temporario += ".tmp" + std::to_string(rd() % 1000000);
        } while (fs::exists(temporario, ec));
        const int trava = CriarRegistro(c.registros[i], temporario, texto);
        if (trava < 0) {
            const int erro = errno;
            SoltarRegistro(true);
            throw ErroArquivo("Não foi possível gravar o registro da substituição do arquivo '" +
                              NomeParaMensagem(c.itens[i].destino) + "' ('" +
                              NomeParaMensagem(c.registros[i]) + "'): " + Motivo(erro) +
                              ". Nada foi substituído.");
        }
        registros_.push_back(c.registros[i]);
        travasDosRegistros_.push_back(trava);
    }
    if (!central.empty()) {
        Caminho temporario = central;
        temporario += ".tmp";
        if (const int trava = CriarRegistro(central, temporario, texto); trava >= 0) {
            registros_.push_back(central);
            travasDosRegistros_.push_back(trava);
        }
    }
}

void Substituicao::Colocar(ArquivoTemporario& arquivo) {
    Item& item = itens_.emplace_back();
    item.destino = arquivo.Destino();
    try {
        std::error_code ec;
        if (std::filesystem::exists(item.destino, ec)) {
            const auto reservado =
                std::find_if(anteriores_.begin(), anteriores_.end(),
                             [&](const auto& par) { return par.first == item.destino; });
            if (reservado != anteriores_.end()) {
                item.anterior = reservado->second;  // as the record says
            } else {
                std::random_device rd;
                do {
                    item.anterior = item.destino;
                    item.anterior += ".anterior" + std::to_string(rd() % 1000000);
                } while (std::filesystem::exists(item.anterior, ec));
            }
            std::filesystem::rename(item.destino, item.anterior, ec);
            // Gone since it was seen (another run placing the same file, as two imports into one
            // database folder share its report): there is no earlier file left to keep aside.
            if (ec == std::errc::no_such_file_or_directory) {
                item.anterior.clear();
            } else if (ec) {
                item.anterior.clear();
                throw ErroArquivo("Não foi possível substituir o arquivo '" +
                                  NomeParaMensagem(item.destino) + "': " + Motivo(ec));
            }
#ifndef _WIN32
            if (!item.anterior.empty()) item.trava = Travar(item.anterior);
#endif
        }
        arquivo.Confirmar();
        item.colocado = true;
    } catch (...) {
        Desfazer();
        throw;
    }
}

void Substituicao::Desfazer() noexcept {
    std::error_code ec;
    for (auto it = itens_.rbegin(); it != itens_.rend(); ++it) {
        if (it->colocado) std::filesystem::remove(it->destino, ec);
        if (!it->anterior.empty()) std::filesystem::rename(it->anterior, it->destino, ec);
        Destravar(it->trava);
    }
    itens_.clear();
    SoltarRegistro(true);
}

void Substituicao::Concluir() noexcept {
    std::error_code ec;
    for (Item& item : itens_) {
        if (!item.anterior.empty()) std::filesystem::remove(item.anterior, ec);
        Destravar(item.trava);
    }
    itens_.clear();
    SoltarRegistro(true);
    concluida_ = true;
}

void Substituicao::Deixar() noexcept {
    for (Item& item : itens_) Destravar(item.trava);
    itens_.clear();
    SoltarRegistro(false);
    concluida_ = true;
}

// The record's copies are let go first, then removed: a copy is never removed while its lock
// is held, which Windows would refuse.
void Substituicao::SoltarRegistro(bool remover) noexcept {
    for (int& trava : travasDosRegistros_) SoltarTrava(trava);
    std::error_code ec;
    if (remover)
        for (const Caminho& registro : registros_) std::filesystem::remove(registro, ec);
    travasDosRegistros_.clear();
    registros_.clear();
    anteriores_.clear();
}

namespace {

// SHA-256 of a file's bytes, read in blocks; empty when it cannot be read.
std::string HashDoArquivo(const Caminho& c) {
    try {
        return LeitorDeLinhas(c).Hash();
    } catch (const Erro&) {
        return {};
    }
}

void Aplicar(ColocacaoAcertada& a) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& item : a.colocacao.itens) {
        const bool guardado = fs::exists(item.anterior, ec);
        switch (a.destino) {
            case DestinoDaColocacao::Valer:
                if (guardado) fs::remove(item.anterior, ec);
                break;
            case DestinoDaColocacao::Manter:
                break;
            case DestinoDaColocacao::Desfazer: {
                const bool presente = fs::exists(item.destino, ec);
                const bool novo = presente && HashDoArquivo(item.destino) == item.hash;
                if (presente && !novo && guardado) {
                    a.alterados.push_back(item);  // somebody's file took the place since
                } else if (guardado) {
                    fs::rename(item.anterior, item.destino, ec);
                } else if (novo) {
                    fs::remove(item.destino, ec);  // nothing was there before it
                }
                break;
            }
        }
    }
}

}  // namespace

std::vector<ColocacaoAcertada> AcertarColocacoes(
    const std::vector<Caminho>& destinos,
    const std::function<DestinoDaColocacao(const ColocacaoPendente&)>& decidir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<Caminho> candidatos;
    for (const Caminho& destino : destinos) {
        const Caminho pasta = destino.has_parent_path() ? destino.parent_path() : Caminho(".");
        const std::string base = destino.filename().string();
        for (const auto& e : fs::directory_iterator(pasta, ec))
            if (NomeDeResto(e.path().filename().string(), base, kMarcaRegistro))
                candidatos.push_back(e.path());
    }
    if (const Caminho central = PastaDasColocacoes(); !central.empty()) {
        for (const auto& e : fs::directory_iterator(central, ec)) {
            const std::string nome = e.path().filename().string();
            if (!nome.starts_with("colocacao-")) continue;
            if (!nome.ends_with(".tmp")) {
                candidatos.push_back(e.path());
            } else if (int trava = TravarRegistro(e.path()); trava >= 0) {
                SoltarTrava(trava);  // its writer died before naming it
                fs::remove(e.path(), ec);
            }
        }
    }
    std::vector<ColocacaoAcertada> acertadas;
    std::vector<std::string> vistas;  // each set once, whichever copy was found first
    for (const Caminho& candidato : candidatos) {
        std::vector<int> travas = {TravarRegistro(candidato)};
        auto soltar = [&travas] {
            for (int& t : travas) SoltarTrava(t);
        };
        if (travas[0] < 0) continue;  // its writer lives, or another run settles it
        const auto colocacao = LerRegistro(LerDoDescritor(travas[0]));
        const std::string texto = colocacao ? TextoDoRegistro(*colocacao) : std::string();
        if (!colocacao || std::find(vistas.begin(), vistas.end(), texto) != vistas.end()) {
            soltar();
            continue;
        }
        vistas.push_back(texto);
        bool livre = true;
        for (const Caminho& copia : colocacao->registros) {
            if (!fs::exists(copia, ec) || MesmoArquivo(copia, candidato)) continue;
            travas.push_back(TravarRegistro(copia));
            livre = livre && travas.back() >= 0;
        }
        if (!livre) {
            soltar();
            continue;
        }
        ColocacaoAcertada a{*colocacao, decidir(*colocacao), {}};
        Aplicar(a);
        soltar();
        if (a.destino != DestinoDaColocacao::Manter)
            for (const Caminho& copia : colocacao->registros) fs::remove(copia, ec);
        acertadas.push_back(std::move(a));
    }
    return acertadas;
}

}  // namespace kavlo
