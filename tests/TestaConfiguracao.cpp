// The site's settings file as a site writes it, and who may read the files the library writes.
// No database: these also run on Windows, under wine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>

#include "util/Caminhos.h"
#include "util/Configuracao.h"
#include "util/Erros.h"
#include "util/Permissoes.h"
#include "util/Substituicao.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>
#include <sddl.h>
#else
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace kavlo;
namespace fs = std::filesystem;

namespace {

// A folder of its own under the system's temporary one, removed at the end.
class Pasta {
  public:
    Pasta() {
        std::random_device rd;
        caminho_ = fs::temp_directory_path() / ("kavlo-conf-" + std::to_string(rd()));
        fs::create_directories(caminho_);
    }
    ~Pasta() {
        std::error_code ec;
        fs::remove_all(caminho_, ec);
    }
    fs::path operator/(const std::string& nome) const { return caminho_ / nome; }
    const fs::path& Caminho() const { return caminho_; }

  private:
    fs::path caminho_;
};

void Gravar(const fs::path& arquivo, std::string_view bytes) {
    std::ofstream f(arquivo, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(Configuracao, LinhasComoUmSiteAsEscreve) {
    using Valores = std::map<std::string, std::string>;
    struct Caso {
        std::string nome, bytes;
        Valores esperado;
    };
    const Valores ana = {{"usuario", "ana"}, {"senha", "p#s=w rd"}, {"papel", "KAVLO_OPERADOR"}};
    for (const Caso& c : std::vector<Caso>{
             {"comentários, brancos e CR LF",
              "# login da DllKavlo\r\n\r\n  usuario = ana\r\n\tSENHA=p#s=w rd  \r\n"
              "   # papel antigo\r\nPapel = KAVLO_OPERADOR",
              ana},
             {"UTF-8 com BOM", "\xEF\xBB\xBFusuario = jos\xC3\xA9\n", {{"usuario", "jos\xC3\xA9"}}},
             {"UTF-8 sem BOM", "senha = ma\xC3\xA7\xC3\xA3\n", {{"senha", "ma\xC3\xA7\xC3\xA3"}}},
             {"Windows-1252 do Bloco de Notas",
              "senha = ma\xE7\xE3\r\n",
              {{"senha", "ma\xC3\xA7\xC3\xA3"}}},
             {"UTF-16 com BOM",
              std::string("\xFF\xFEp\0a\0p\0e\0l\0=\0R\0\n\0", 18),
              {{"papel", "R"}}},
             {"vazio", "", {}},
         }) {
        SCOPED_TRACE(c.nome);
        const Configuracao conf =
            Configuracao::Interpretar("DllKavlo.conf", c.bytes, {"usuario", "senha", "papel"});
        for (const char* chave : {"usuario", "senha", "papel"}) {
            const auto* v = conf.Buscar(chave);
            const auto it = c.esperado.find(chave);
            if (it == c.esperado.end()) {
                EXPECT_EQ(v, nullptr) << chave;
            } else {
                ASSERT_NE(v, nullptr) << chave;
                EXPECT_EQ(v->texto, it->second);
            }
        }
    }
    // Line numbers count every line, blank and comment lines too.
    const Configuracao conf =
        Configuracao::Interpretar("x", "# a\n\nusuario = ana\n", {"usuario", "senha", "papel"});
    EXPECT_EQ(conf.Buscar("usuario")->linha, 3u);
}

// A malformed file names itself and the line, and never quotes the line: it may be the password.
TEST(Configuracao, ArquivoMalFormadoNomeiaArquivoELinha) {
    struct Caso {
        std::string bytes, linha, problema;
    };
    const std::string segredo = "Tr0ub4dor-e-3";
    for (const Caso& c : std::vector<Caso>{
             {"usuario = ana\n" + segredo + "\n", "linha 2", "a linha não tem '='"},
             {"usuario = ana\nsenah = " + segredo + "\n", "linha 2",
              "a chave não é uma das conhecidas"},
             {segredo + " = x\n", "linha 1", "a chave não é uma das conhecidas"},
             {"senha = " + segredo + "\n\nSENHA = " + segredo + "\n", "linha 3",
              "a chave senha já foi dada na linha 1"},
             {"usuario =\n", "linha 1", "a chave usuario está sem valor"},
             {"senha = " + segredo + std::string(1, '\0') + "x\n", "linha 1",
              "a linha tem um caractere NUL"},
         }) {
        SCOPED_TRACE(c.problema);
        std::string m;
        try {
            Configuracao::Interpretar("/etc/kavlo/DllKavlo.conf", c.bytes,
                                      {"usuario", "senha", "papel"});
        } catch (const ErroArquivo& e) {
            m = e.what();
        }
        EXPECT_NE(m.find("Arquivo de configuração '/etc/kavlo/DllKavlo.conf', " + c.linha + ": " +
                         c.problema),
                  std::string::npos)
            << m;
        EXPECT_NE(m.find("usuario, senha ou papel"), std::string::npos) << m;
        EXPECT_EQ(m.find(segredo), std::string::npos) << m;
    }
}

TEST(Configuracao, ArquivoAusenteNaoEhErro) {
    Pasta pasta;
    EXPECT_FALSE(Configuracao::Ler(pasta / "DllKavlo.conf", {"usuario"}));
    Gravar(pasta / "DllKavlo.conf", "usuario = ana\n");
    const auto conf = Configuracao::Ler(pasta / "DllKavlo.conf", {"usuario"});
    ASSERT_TRUE(conf);
    EXPECT_EQ(conf->Buscar("usuario")->texto, "ana");
    EXPECT_EQ(conf->Arquivo(), pasta / "DllKavlo.conf");
}

#ifdef _WIN32

// On Windows, by the access list: its owner, the Administrators and SYSTEM do not count. Wine keeps
// no access list of its own: it makes one from the Unix mode whatever a program sets, so the cases
// are descriptors in memory, and the file on disk is the one wine makes (everybody may read it).
TEST(Permissoes, LegivelPorOutrosPelaListaDeAcesso) {
    const std::wstring dono = L"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;S-1-5-21-1-2-3-1001)";
    struct Caso {
        std::wstring sddl;
        bool legivel;
    };
    for (const Caso& c : std::vector<Caso>{
             {dono, false},
             {dono + L"(A;;FA;;;BA)(A;;FA;;;SY)", false},
             {dono + L"(A;;FA;;;OW)", false},                  // the owner's rights
             {dono + L"(A;;FR;;;WD)", true},                   // Everyone
             {dono + L"(A;;GR;;;BU)", true},                   // Users, generic read
             {dono + L"(A;;FR;;;S-1-5-21-1-2-3-1002)", true},  // another user
             {dono + L"(A;;FW;;;WD)", false},                  // Everyone may write, not read
             {dono + L"(D;;FR;;;WD)", false},                  // a denial
             {dono + L"(A;OICIIO;FR;;;WD)", false},            // only for what is created inside
         }) {
        SCOPED_TRACE(std::string(c.sddl.begin(), c.sddl.end()));
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            c.sddl.c_str(), SDDL_REVISION_1, &sd, nullptr));
        EXPECT_EQ(LegivelPorOutros(sd), c.legivel);
        LocalFree(sd);
    }
    // No list at all: everybody may do everything. (Wine reads "D:NO_ACCESS_CONTROL" as an empty
    // list, so the descriptor is built by hand.)
    SECURITY_DESCRIPTOR semLista;
    ASSERT_TRUE(InitializeSecurityDescriptor(&semLista, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&semLista, TRUE, nullptr, FALSE));
    EXPECT_TRUE(LegivelPorOutros(&semLista));
    // Under wine, the file's list is made from its Unix mode (0644 here): Everyone reads it.
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        Pasta pasta;
        Gravar(pasta / "DllKavlo.conf", "senha = x\n");
        EXPECT_TRUE(LegivelPorOutros(pasta / "DllKavlo.conf"));
    }
}

#else

TEST(Permissoes, LegivelPorOutrosPeloModo) {
    Pasta pasta;
    const fs::path arquivo = pasta / "DllKavlo.conf";
    Gravar(arquivo, "senha = x\n");
    struct Caso {
        mode_t modo;
        bool legivel;
    };
    for (const auto& [modo, legivel] : std::vector<Caso>{{0600, false},
                                                         {0400, false},
                                                         {0700, false},
                                                         {0640, true},
                                                         {0604, true},
                                                         {0620, false}}) {
        SCOPED_TRACE(modo);
        ASSERT_EQ(::chmod(arquivo.c_str(), modo), 0);
        EXPECT_EQ(LegivelPorOutros(arquivo), legivel);
    }
    EXPECT_FALSE(LegivelPorOutros(pasta / "nao-existe"));
}

namespace {

std::string Ler(const fs::path& arquivo) {
    std::ifstream f(arquivo, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

mode_t Modo(const fs::path& arquivo) {
    struct stat s {};
    EXPECT_EQ(::stat(arquivo.c_str(), &s), 0) << arquivo;
    return s.st_mode & 07777;
}

class Umask {
  public:
    explicit Umask(mode_t m) : antes_(::umask(m)) {}
    ~Umask() { ::umask(antes_); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

  private:
    mode_t antes_;
};

}  // namespace

// Every file the library and the tool write goes through ArquivoTemporario: a new one is its
// owner's alone whatever the umask; one that replaces an earlier file keeps that file's mode, and
// its owner where the process may give it (root may).
TEST(Permissoes, ArquivoNovoSoDoDonoESubstitutoComoOAnterior) {
    Pasta pasta;
    for (mode_t mascara : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        SCOPED_TRACE(mascara);
        Umask u(mascara);
        const fs::path destino = pasta / ("novo" + std::to_string(mascara) + ".txt");
        ArquivoTemporario f(destino);
        f.Escrever("CPF 123");
        EXPECT_EQ(Modo(f.Temporario()) & 0077, 0u) << "legível por outros enquanto é escrito";
        f.Confirmar();
        EXPECT_EQ(Modo(destino), 0600u);
        EXPECT_EQ(Ler(destino), "CPF 123");
    }

    const bool root = ::geteuid() == 0;
    const uid_t outro = 65534;  // nobody
    for (mode_t anterior : {mode_t{0644}, mode_t{0640}, mode_t{0600}, mode_t{0660}}) {
        SCOPED_TRACE(anterior);
        const fs::path destino = pasta / ("anterior" + std::to_string(anterior) + ".txt");
        Gravar(destino, "antes");
        ASSERT_EQ(::chmod(destino.c_str(), anterior), 0);
        if (root) {
            ASSERT_EQ(::chown(destino.c_str(), outro, outro), 0);
        }
        {
            Umask u(077);
            ArquivoTemporario f(destino);
            f.Escrever("depois");
            Substituicao s;
            s.Colocar(f);
            s.Concluir();
        }
        EXPECT_EQ(Ler(destino), "depois");
        EXPECT_EQ(Modo(destino), anterior);
        struct stat st {};
        ASSERT_EQ(::stat(destino.c_str(), &st), 0);
        if (root) {
            EXPECT_EQ(st.st_uid, outro);
            EXPECT_EQ(st.st_gid, outro);
        }
    }
}

// A group the process cannot give the new file does not receive the earlier group's access.
TEST(Permissoes, GrupoQueNaoPodeSerDadoPerdeOAcesso) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "Precisa de root para fazer um arquivo de um grupo a que o processo que o "
                        "substitui não pertence.";
    Pasta pasta;
    const uid_t ninguem = 65534;
    ASSERT_EQ(::chown(pasta.Caminho().c_str(), ninguem, ninguem), 0);
    // nobody's file, readable by root's group.
    const fs::path destino = pasta / "resultado.txt";
    Gravar(destino, "antes");
    ASSERT_EQ(::chmod(destino.c_str(), 0640), 0);
    ASSERT_EQ(::chown(destino.c_str(), ninguem, 0), 0);
    const pid_t filho = ::fork();
    if (filho == 0) {
        // nobody, in no group of root's, replaces it.
        if (::setgroups(0, nullptr) != 0 || ::setgid(ninguem) != 0 || ::setuid(ninguem) != 0)
            std::_Exit(2);
        try {
            ArquivoTemporario f(destino);
            f.Escrever("depois");
            f.Confirmar();
        } catch (...) {
            std::_Exit(3);
        }
        std::_Exit(0);
    }
    int estado = 0;
    ::waitpid(filho, &estado, 0);
    ASSERT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << estado;
    EXPECT_EQ(Ler(destino), "depois");
    struct stat st {};
    ASSERT_EQ(::stat(destino.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ninguem);
    EXPECT_EQ(st.st_gid, ninguem);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

#endif
