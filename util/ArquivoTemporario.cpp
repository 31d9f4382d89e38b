#include "util/ArquivoTemporario.h"

#include <cerrno>
#include <random>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Permissoes.h"
#include "util/RegistroDeColocacao.h"
#include "util/SistemaDeArquivos.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kavlo {
namespace {

// Whether the earlier file `anterior` of `destino` ("<destino>.anteriorN") belongs to a set whose
// record ("<destino>.pendenteN") is still there, waiting to be settled.
bool AnteriorPendente(const Caminho& destino, const Caminho& anterior) {
    const std::string nome = anterior.filename().string();
    const size_t p = nome.rfind(".anterior");
    if (p == std::string::npos) return false;
    Caminho registro = destino;
    registro += std::string(kMarcaRegistro) + nome.substr(p + 9);
    std::error_code ec;
    return std::filesystem::exists(registro, ec);
}

// What a process killed in the middle left for `destino`.
void LimparRestos(const Caminho& destino) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const Caminho pasta = destino.has_parent_path() ? destino.parent_path() : Caminho(".");
    const std::string base = destino.filename().string();
    std::vector<Caminho> temporarios, anteriores;
    for (const auto& e : fs::directory_iterator(pasta, ec)) {
        const std::string nome = e.path().filename().string();
        if (NomeDeResto(nome, base, ".tmp")) temporarios.push_back(e.path());
        if (NomeDeResto(nome, base, ".anterior")) anteriores.push_back(e.path());
    }
    for (const Caminho& t : temporarios) {
#ifndef _WIN32
        if (!Abandonado(t)) continue;
#endif
        fs::remove(t, ec);  // on Windows a file still being written cannot be removed
    }
    for (const Caminho& a : anteriores) {
        if (AnteriorPendente(destino, a)) continue;  // AcertarColocacoes decides
        if (!fs::exists(destino, ec)) {
            fs::rename(a, destino, ec);  // its place is empty: it is the file the user had
            continue;
        }
#ifndef _WIN32
        if (Abandonado(a)) fs::remove(a, ec);
#endif
    }
}

}  // namespace

ArquivoTemporario::ArquivoTemporario(Caminho destino) : destino_(std::move(destino)) {
    LimparRestos(destino_);
    std::random_device rd;
    for (int tentativa = 0; tentativa < 16 && !arquivo_; ++tentativa) {
        temporario_ = destino_;
        temporario_ += ".tmp" + std::to_string(rd() % 1000000);
#ifdef _WIN32
        arquivo_ = Abrir(temporario_, true);
        if (!arquivo_) break;
#else
        // O_EXCL: never reuse a name somebody else is writing.
        int fd = ::open(temporario_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kModoPrivado);
        // Held until the file is in place or removed, through a descriptor of its own (closing
        // the written file keeps it): another run sees it is not left behind.
        if (fd >= 0) ::flock(fd, LOCK_EX);
        // Another run may have taken it for a leftover between its creation and the lock.
        struct stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || st.st_nlink == 0)) {
            ::close(fd);
            continue;
        }
        if (fd >= 0) trava_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (fd >= 0) PermissoesDoSubstituto(fd, destino_);
        if (fd >= 0) arquivo_ = ::fdopen(fd, "wb");
        if (fd < 0 && errno != EEXIST) break;
#endif
    }
    if (!arquivo_)
        throw ErroArquivo("Não foi possível criar o arquivo '" + NomeParaMensagem(destino_) +
                          "': " + Motivo(errno));
}

ArquivoTemporario::~ArquivoTemporario() {
    if (arquivo_) std::fclose(arquivo_);
    if (!confirmado_) {
        std::error_code ec;
        std::filesystem::remove(temporario_, ec);
    }
    Destravar(trava_);
}

void ArquivoTemporario::FalhaEscrita(int erro) {
    throw ErroArquivo("Erro ao gravar o arquivo '" + NomeParaMensagem(destino_) +
                      "': " + Motivo(erro));
}

void ArquivoTemporario::Escrever(std::string_view bytes) {
    if (!arquivo_) FalhaEscrita(EBADF);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), arquivo_) != bytes.size())
        FalhaEscrita(errno);
    somador_.Acrescentar(bytes);
}

void ArquivoTemporario::EscreverLinha(std::u16string_view linha) {
    Escrever(ParaWindows1252MelhorAjuste(linha));
    Escrever("\r\n");
}

void ArquivoTemporario::Fechar() {
    if (!arquivo_) return;
    std::FILE* f = arquivo_;
    arquivo_ = nullptr;
    int erro = 0;
    if (std::fflush(f) != 0) erro = errno;
#ifndef _WIN32
    if (!erro && ::fsync(::fileno(f)) != 0) erro = errno;
#endif
    if (std::fclose(f) != 0 && !erro) erro = errno;
    if (erro) FalhaEscrita(erro);
    hash_ = somador_.Concluir();
}

void ArquivoTemporario::Confirmar() {
    Fechar();
    std::error_code ec;
    std::filesystem::rename(temporario_, destino_, ec);
    if (ec)
        throw ErroArquivo("Não foi possível substituir o arquivo '" + NomeParaMensagem(destino_) +
                          "': " + Motivo(ec));
    confirmado_ = true;
    Destravar(trava_);  // no longer a temporary file
}

}  // namespace kavlo
