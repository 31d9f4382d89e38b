#include "tests/BancoTeste.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "dao/Firebird.h"
#include "util/Codificacao.h"

namespace kavlo::teste {
namespace {

std::vector<std::string> Comandos(std::string_view script) {
    std::vector<std::string> r;
    std::string atual;
    char aspas = 0;
    for (char c : script) {
        if (aspas) {
            if (c == aspas) aspas = 0;
        } else if (c == '\'' || c == '"') {
            aspas = c;
        } else if (c == ';') {
            r.push_back(atual);
            atual.clear();
            continue;
        }
        atual += c;
    }
    r.push_back(atual);
    std::vector<std::string> limpos;
    for (auto& s : r) {
        const auto a = s.find_first_not_of(" \t\r\n");
        if (a == std::string::npos) continue;
        limpos.push_back(s.substr(a));
    }
    return limpos;
}

bool Ddl(const std::string& comando) {
    std::string inicio;
    for (char c : comando.substr(0, 8))
        inicio += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return inicio.starts_with("CREATE") || inicio.starts_with("ALTER") ||
           inicio.starts_with("DROP");
}

}  // namespace

PastaTemporaria::PastaTemporaria() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        caminho_ = base / ("kavlo-teste-" + std::to_string(rd()));
        if (std::filesystem::create_directory(caminho_)) break;
    }
}

PastaTemporaria::~PastaTemporaria() {
    std::error_code ec;
    std::filesystem::permissions(caminho_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(caminho_, ec);
}

std::u16string PastaTemporaria::ComBarra() const {
    return DeUtf8(caminho_.string() + "/");
}

BancoTeste::BancoTeste(std::string_view script) {
    fb::Conexao c;
    c.Criar(Caminho(), "SYSDBA", "quillbank");
    c.Fechar();
    if (!script.empty()) Executar(script);
}

std::u16string BancoTeste::Caminho() const {
    return DeUtf8(Arquivo().string());
}

void BancoTeste::Executar(std::string_view script) const {
    fb::Conexao c;
    c.Abrir(Caminho(), "SYSDBA", "quillbank");
    auto dados = std::make_unique<fb::Transacao>(c, fb::ModoTransacao::Escrita);
    for (const auto& comando : Comandos(script)) {
        if (Ddl(comando)) {
            dados->Commit();
            fb::Transacao t(c, fb::ModoTransacao::Escrita);
            fb::Comando(t, DeUtf8(comando), "preparar o banco de teste").Executar();
            t.Commit();
            dados = std::make_unique<fb::Transacao>(c, fb::ModoTransacao::Escrita);
        } else {
            fb::Comando(*dados, DeUtf8(comando), "preparar o banco de teste").Executar();
        }
    }
    dados->Commit();
}

std::vector<std::vector<std::u16string>> BancoTeste::Linhas(std::string_view select) const {
    return BancoTesteExistente(Arquivo()).Linhas(select);
}

std::vector<std::vector<std::u16string>> BancoTesteExistente::Linhas(
    std::string_view select) const {
    fb::Conexao c;
    c.Abrir(DeUtf8(arquivo_.string()), "SYSDBA", "quillbank");
    fb::Transacao t(c, fb::ModoTransacao::Leitura);
    fb::Comando cmd(t, DeUtf8(select), "ler o banco de teste");
    auto cur = cmd.Abrir();
    std::vector<std::vector<std::u16string>> r;
    while (cur.Proximo()) {
        auto& linha = r.emplace_back();
        for (unsigned i = 0; i < cur.Colunas(); ++i)
            linha.push_back(cur.Nulo(i) ? u"<null>" : cur.Texto(i));
    }
    return r;
}

std::u16string BancoTeste::Valor(std::string_view select) const {
    auto r = Linhas(select);
    if (r.empty() || r[0].empty())
        throw std::runtime_error("consulta sem resultado: " + std::string(select));
    return r[0][0];
}

std::string LerArquivo(const std::filesystem::path& caminho) {
    std::ifstream f(caminho, std::ios::binary);
    if (!f) throw std::runtime_error("arquivo ausente: " + caminho.string());
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void GravarArquivo(const std::filesystem::path& caminho, std::string_view bytes) {
    std::ofstream f(caminho, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("não foi possível gravar " + caminho.string());
}

}  // namespace kavlo::teste
