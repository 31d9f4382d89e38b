// Several threads calling both operations at once, on different databases and folders: the calls
// wait for one another, and each gives exactly what it gives alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "demonstracao/BancoDemo.h"
#include "entry/ProcessoKavlo.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

// What a call leaves on disk, the header's generation date (positions 88-95) masked.
std::string Conteudo(const fs::path& pasta) {
    std::string r;
    for (const auto& e : fs::directory_iterator(pasta)) {
        std::string bytes = LerArquivo(e.path());
        if (e.path().extension() != ".fdb" && bytes.size() >= 95 && bytes[0] == 'H')
            bytes.replace(87, 8, "dddddddd");
        r += e.path().filename().string() + ":" + (e.path().extension() == ".fdb" ? "" : bytes) +
             "\n";
    }
    return r;
}

struct Trabalho {
    fs::path pasta;  // the database, the return file and every output
    bool importar;
    std::string erro;

    void Rodar() {
        const std::u16string banco = DeUtf8((pasta / "folha.fdb").string());
        try {
            if (importar) {
                CadeiaHost mes(u"2"), ano(u"2024"), b(banco),
                    res(DeUtf8((pasta / "resultado.txt").string())),
                    load(DeUtf8((pasta / "retorno.txt").string())), folhas(u"MENSAL"), s(u"S");
                ImportarArquivo(mes, ano, b, res, load, folhas, s);
            } else {
                CadeiaHost mes(u"2"), ant(u"1"), ano(u"2024"), b(banco),
                    saida(DeUtf8(pasta.string() + "/")), filtro(u"select matricula from SFP001FEV");
                GerarArquivo(mes, ant, ano, b, saida, filtro);
            }
        } catch (const std::exception& e) {
            erro = e.what();
        }
    }
};

}  // namespace

TEST(Concorrencia, ChamadasSimultaneasDaoOMesmoQueSozinhas) {
    PastaTemporaria raiz;
    demo::OpcoesDemo o;
    o.banco = (raiz.Caminho() / "modelo.fdb").string();
    o.retorno = (raiz.Caminho() / "retorno.txt").string();
    o.servidores = 120;
    demo::CriarBancoDemo(o);

    // Each job gets its own copy; the lone runs and the simultaneous ones start from the same
    // bytes.
    auto preparar = [&](const std::string& nome) {
        const fs::path p = raiz.Caminho() / nome;
        fs::create_directory(p);
        fs::copy_file(raiz.Caminho() / "modelo.fdb", p / "folha.fdb");
        fs::copy_file(raiz.Caminho() / "retorno.txt", p / "retorno.txt");
        return p;
    };
    std::vector<Trabalho> sozinhos, juntos;
    for (int i = 0; i < 6; ++i) {
        const bool importar = i % 2 == 1;
        sozinhos.push_back({preparar("sozinho" + std::to_string(i)), importar, ""});
        juntos.push_back({preparar("junto" + std::to_string(i)), importar, ""});
    }
    for (auto& t : sozinhos) t.Rodar();
    std::vector<std::thread> threads;
    for (auto& t : juntos) threads.emplace_back([&t] { t.Rodar(); });
    for (auto& t : threads) t.join();

    for (size_t i = 0; i < juntos.size(); ++i) {
        SCOPED_TRACE(juntos[i].importar ? "importação" : "geração");
        EXPECT_EQ(sozinhos[i].erro, "");
        EXPECT_EQ(juntos[i].erro, "");
        EXPECT_EQ(Conteudo(juntos[i].pasta), Conteudo(sozinhos[i].pasta));
        if (juntos[i].importar) {
            // The same rows posted: both databases read back alike.
            auto linhas = [](const fs::path& p) {
                BancoTesteExistente b(p / "folha.fdb");
                return b.Linhas("select * from SFPDXX02FEV order by matricula, mcvalor");
            };
            EXPECT_EQ(linhas(juntos[i].pasta), linhas(sozinhos[i].pasta));
        }
    }
    EXPECT_FALSE(TProcessoKAVLO::Instanciado());
}
