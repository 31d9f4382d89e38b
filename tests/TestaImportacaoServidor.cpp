// The import through a running Firebird server, reached as "localhost:" + path, the way the
// payroll application usually names its database. Skipped when no server answers on this machine
// (scripts/servidor-firebird.sh starts one).
#include <gtest/gtest.h>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/EsquemaFolha.h"
#include "entry/Conexao.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

void Executar(fb::Conexao& c, const std::string& script) {
    size_t inicio = 0;
    for (size_t fim; (fim = script.find(';', inicio)) != std::string::npos; inicio = fim + 1) {
        const std::string comando = script.substr(inicio, fim - inicio);
        if (comando.find_first_not_of(" \r\n") == std::string::npos) continue;
        fb::Transacao t(c, fb::ModoTransacao::Escrita);
        fb::Comando(t, DeUtf8(comando), "preparar o banco de teste no servidor").Executar();
        t.Commit();
    }
}

}  // namespace

TEST(ImportacaoServidor, BancoEmLocalhost) {
    PastaDoServidor servidor;
    if (const std::string motivo = SemServidor(servidor); !motivo.empty()) GTEST_SKIP() << motivo;
    const fs::path pasta = servidor.Caminho();
    const std::u16string local = u"localhost:" + DeUtf8((pasta / "payroll.fdb").string());
    {
        fb::Conexao c;
        c.Criar(local, kUsuarioBanco, kSenhaBanco);
        Executar(
            c,
            demo::EsquemaFixo() + demo::EsquemaDoMes("JAN") +
                "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('123456-7', 'T', 100);"
                "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('200000-1', 'T', 5);");
    }

    PastaTemporaria saida;
    const fs::path retorno = saida.Caminho() / "retorno.txt",
                   resultado = saida.Caminho() / "resultado.txt";
    GravarArquivo(retorno, "H\r\n" + LinhaDeParcela("123456-7", "000000000060.00") + "\r\n" +
                               LinhaDeParcela("200000-1", "000000000010.00") + "\r\nT\r\n");
    CadeiaHost mes(u"1"), ano(u"2024"), banco(local), res(DeUtf8(resultado.string())),
        load(DeUtf8(retorno.string())), folhas(u""), s(u"S");
    ImportarArquivo(mes, ano, banco, res, load, folhas, s);

    {
        fb::Conexao c;
        AbrirBancoDaFolha(c, local);
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        fb::Comando q(
            t, "select matricula, mcvalor, cod1, recalcular from SFPDXX02JAN order by matricula",
            "ler o resultado");
        fb::Cursor cur = q.Abrir();
        ASSERT_TRUE(cur.Proximo());
        EXPECT_EQ(cur.Real("MCVALOR"), 40);
        EXPECT_EQ(cur.Texto("COD1"), u"35");
        ASSERT_TRUE(cur.Proximo());
        EXPECT_EQ(cur.Real("MCVALOR"), 5);
        EXPECT_EQ(cur.Texto("RECALCULAR"), u"");
    }
    EXPECT_EQ(LerArquivo(resultado).size(), 95u + 260 * 2 + 23 + 2 * 4);
    // Without its "localhost:" the location is a local path: the report goes to its folder.
    const std::string relatorio = LerArquivo(pasta / "ServidoresSemMargem.txt");
    EXPECT_EQ(relatorio.substr(0, 24), "200000-1 - SERVIDOR: ANA");
}
