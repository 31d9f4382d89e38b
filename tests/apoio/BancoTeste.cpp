#include "tests/apoio/BancoTeste.h"

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <firebird/Interface.h>
#include <ibase.h>

#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
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

// A UTF8 connection with one transaction, made with the client's own calls. Errors throw the
// client's exception.
class ConexaoUtf8 {
  public:
    explicit ConexaoUtf8(const std::filesystem::path& banco)
        : status_(fb::Mestre()->getStatus()), st_(status_.get()) {
        Firebird::IMaster* mestre = fb::Mestre();
        std::unique_ptr<Firebird::IXpbBuilder, Descartar> dpb(
            mestre->getUtilInterface()->getXpbBuilder(&st_, Firebird::IXpbBuilder::DPB, nullptr,
                                                      0));
        dpb->insertString(&st_, isc_dpb_user_name, std::string(kUsuarioBanco).c_str());
        dpb->insertString(&st_, isc_dpb_password, std::string(kSenhaBanco).c_str());
        dpb->insertString(&st_, isc_dpb_lc_ctype, "UTF8");
        dpb->insertInt(&st_, isc_dpb_sql_dialect, 1);
        const std::unique_ptr<Firebird::IProvider, Soltar> provedor(mestre->getDispatcher());
        attachment_.reset(provedor->attachDatabase(
            &st_, banco.string().c_str(), dpb->getBufferLength(&st_), dpb->getBuffer(&st_)));
        transaction_.reset(attachment_->startTransaction(&st_, 0, nullptr));
    }

    void Executar(const std::string& sql) {
        attachment_->execute(&st_, transaction_.get(), 0, sql.c_str(), 1, nullptr, nullptr, nullptr,
                             nullptr);
    }

    void Commit() {
        transaction_->commit(&st_);
        (void)transaction_.release();
    }

    std::vector<std::vector<std::string>> Linhas(const std::string& select) {
        fb::Posse<Firebird::IStatement> comando(
            attachment_->prepare(&st_, transaction_.get(), 0, select.c_str(), 1, 0));
        fb::Posse<Firebird::IMessageMetadata> saida(comando->getOutputMetadata(&st_));
        fb::Posse<Firebird::IResultSet> cursor(
            comando->openCursor(&st_, transaction_.get(), nullptr, nullptr, saida.get(), 0));
        std::vector<unsigned char> buffer(saida->getMessageLength(&st_));
        std::vector<std::vector<std::string>> r;
        while (cursor->fetchNext(&st_, buffer.data()) == Firebird::IStatus::RESULT_OK) {
            auto& linha = r.emplace_back();
            for (unsigned i = 0; i < saida->getCount(&st_); ++i) {
                const unsigned char* v = buffer.data() + saida->getOffset(&st_, i);
                if (*reinterpret_cast<const short*>(buffer.data() +
                                                    saida->getNullOffset(&st_, i))) {
                    linha.emplace_back("<null>");
                } else if (saida->getType(&st_, i) == SQL_VARYING) {
                    uint16_t n;
                    std::memcpy(&n, v, 2);
                    linha.emplace_back(reinterpret_cast<const char*>(v + 2), n);
                } else if (saida->getType(&st_, i) == SQL_TEXT) {
                    std::string t(reinterpret_cast<const char*>(v), saida->getLength(&st_, i));
                    linha.push_back(t.substr(0, t.find_last_not_of(' ') + 1));
                } else {
                    throw std::runtime_error("LinhasUtf8 lê só colunas de texto: " + select);
                }
            }
        }
        return r;
    }

  private:
    struct Descartar {
        void operator()(Firebird::IDisposable* p) const { p->dispose(); }
    };
    struct Soltar {
        void operator()(Firebird::IReferenceCounted* p) const { p->release(); }
    };
    std::unique_ptr<Firebird::IStatus, Descartar> status_;
    Firebird::ThrowStatusWrapper st_;
    fb::Posse<Firebird::IAttachment> attachment_;
    fb::Posse<Firebird::ITransaction> transaction_;
};

// Runs `f`, turning the client's exception into one with its text and the statement.
template <class F>
void ComMensagem(const std::string& sql, F f) {
    try {
        f();
    } catch (const Firebird::FbException& e) {
        char texto[2048];
        fb::Mestre()->getUtilInterface()->formatStatus(texto, sizeof texto, e.getStatus());
        throw std::runtime_error(std::string(texto) + " [" + sql + "]");
    }
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
    c.Criar(Caminho(), kUsuarioBanco, kSenhaBanco);
    c.Fechar();
    if (!script.empty()) Executar(script);
}

std::u16string BancoTeste::Caminho() const {
    return DeUtf8(Arquivo().string());
}

void BancoTeste::Executar(std::string_view script) const {
    fb::Conexao c;
    AbrirBancoDaFolha(c, Caminho());
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

BancoTesteExistente::BancoTesteExistente(const std::filesystem::path& arquivo)
    : local_(DeUtf8(arquivo.string())) {}

std::vector<std::vector<std::u16string>> BancoTesteExistente::Linhas(
    std::string_view select) const {
    fb::Conexao c;
    AbrirBancoDaFolha(c, local_);
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

void BancoTeste::ExecutarUtf8(std::string_view script) const {
    for (const auto& comando : Comandos(script)) {
        ComMensagem(comando, [&] {
            ConexaoUtf8 c(Arquivo());
            c.Executar(comando);
            c.Commit();
        });
    }
}

std::vector<std::vector<std::string>> BancoTeste::LinhasUtf8(std::string_view select) const {
    std::vector<std::vector<std::string>> r;
    ComMensagem(std::string(select),
                [&] { r = ConexaoUtf8(Arquivo()).Linhas(std::string(select)); });
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

std::set<std::string> NomesNaPasta(const std::filesystem::path& pasta) {
    std::set<std::string> r;
    for (const auto& e : std::filesystem::directory_iterator(pasta))
        r.insert(e.path().filename().string());
    return r;
}

void GravarArquivo(const std::filesystem::path& caminho, std::string_view bytes) {
    std::ofstream f(caminho, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("não foi possível gravar " + caminho.string());
}

}  // namespace kavlo::teste
