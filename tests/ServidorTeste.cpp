#include "tests/ServidorTeste.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <thread>

#include "entry/Conexao.h"
#include "util/Codificacao.h"

namespace kavlo::teste {

namespace fs = std::filesystem;

bool ServidorFirebirdResponde() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(3050);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

PastaDoServidor::PastaDoServidor() {
    std::random_device rd;
    const fs::path pasta = fs::path("/tmp/firebird") / ("kavlo-teste-" + std::to_string(rd()));
    std::error_code ec;
    if (!fs::create_directory(pasta, ec)) return;
    fs::permissions(pasta, fs::perms::all, ec);
    caminho_ = pasta;
}

PastaDoServidor::~PastaDoServidor() {
    if (caminho_.empty()) return;
    dmConexao().fdConexao.Fechar();
    std::error_code ec;
    fs::remove_all(caminho_, ec);
}

std::u16string PastaDoServidor::Local(const std::string& arquivo) const {
    return u"localhost:" + DeUtf8((caminho_ / arquivo).string());
}

void PastaDoServidor::Receber(const fs::path& banco, const std::string& arquivo) const {
    const fs::path destino = caminho_ / arquivo;
    fs::copy_file(banco, destino, fs::copy_options::overwrite_existing);
    fs::permissions(destino, fs::perms::owner_read | fs::perms::owner_write |
                                 fs::perms::group_read | fs::perms::group_write |
                                 fs::perms::others_read | fs::perms::others_write);
}

void DerrubarServidorFirebird() {
    if (std::system("pkill -KILL -x fbguard; pkill -KILL -x firebird") < 0)
        throw std::runtime_error("pkill falhou");
    for (int i = 0; i < 100 && ServidorFirebirdResponde(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void IniciarServidorFirebird() {
    const std::string script =
        std::string(KAVLO_FONTES) + "/scripts/servidor-firebird.sh >/dev/null 2>&1";
    if (std::system(script.c_str()) != 0 || !ServidorFirebirdResponde())
        throw std::runtime_error("o servidor Firebird não voltou a responder");
}

}  // namespace kavlo::teste
