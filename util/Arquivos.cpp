#include "util/Arquivos.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "util/Codificacao.h"
#include "util/Erros.h"

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace kavlo {
namespace {

// The system's reason for a failed file operation, in Portuguese for the ones an operator meets.
std::string Motivo(int erro) {
    switch (erro) {
        case ENOENT:
            return "o arquivo ou a pasta não existe";
        case ENOTDIR:
            return "uma parte do caminho não é uma pasta";
        case EISDIR:
            return "o caminho é uma pasta, não um arquivo";
        case EACCES:
        case EPERM:
            return "permissão negada";
        case ENOSPC:
            return "não há espaço no disco";
        case EROFS:
            return "o sistema de arquivos está somente para leitura";
        case EEXIST:
            return "o arquivo já existe";
        case EBUSY:
            return "o arquivo está em uso";
        case ENAMETOOLONG:
            return "o nome do arquivo é longo demais";
        case EMFILE:
        case ENFILE:
            return "arquivos abertos demais";
        case EIO:
            return "erro de leitura ou gravação no disco";
#ifdef EDQUOT
        case EDQUOT:
            return "a cota de disco acabou";
#endif
        default:
            break;
    }
#ifdef _WIN32
    char buf[256];
    strerror_s(buf, sizeof buf, erro);
    return buf;
#else
    return std::strerror(erro);
#endif
}

// The same for the file system library's errors, which carry errno values on POSIX.
std::string Motivo(const std::error_code& ec) {
    if (ec.category() == std::generic_category()) return Motivo(ec.value());
#ifndef _WIN32
    if (ec.category() == std::system_category()) return Motivo(ec.value());
#endif
    return ec.message();
}

std::FILE* Abrir(const Caminho& caminho, bool escrita) {
#ifdef _WIN32
    // Readers deny writers; the temporary files we write deny everybody.
    return _wfsopen(caminho.c_str(), escrita ? L"wb" : L"rb", escrita ? _SH_DENYRW : _SH_DENYWR);
#else
    return std::fopen(caminho.c_str(), escrita ? "wb" : "rb");
#endif
}

// "<base><marca>NNNNNN": a temporary or kept-aside file of the destination named `base`.
bool NomeDeResto(const std::string& nome, const std::string& base, std::string_view marca) {
    if (!nome.starts_with(base) || nome.size() <= base.size() + marca.size()) return false;
    if (std::string_view(nome).substr(base.size(), marca.size()) != marca) return false;
    const std::string_view numero = std::string_view(nome).substr(base.size() + marca.size());
    return numero.size() <= 6 && numero.find_first_not_of("0123456789") == std::string_view::npos;
}

#ifndef _WIN32
// A lock for as long as the file is in use; a file whose lock can be taken was left behind.
int Travar(const Caminho& c) {
    const int fd = ::open(c.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Abandonado(const Caminho& c) {
    const int fd = Travar(c);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}
#endif

void Destravar(int& fd) {
#ifndef _WIN32
    if (fd >= 0) ::close(fd);
#endif
    fd = -1;
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

Caminho CaminhoDe(std::u16string_view texto) {
#ifdef _WIN32
    return Caminho(std::wstring(texto.begin(), texto.end()));
#else
    return Caminho(ParaUtf8(texto));
#endif
}

std::string NomeParaMensagem(const Caminho& caminho) {
#ifdef _WIN32
    const std::wstring w = caminho.wstring();
    return ParaMensagem(std::u16string(w.begin(), w.end()));
#else
    return ParaMensagem(std::string_view(caminho.native()));
#endif
}

bool MesmoArquivo(const Caminho& a, const Caminho& b) {
    std::error_code ec;
    if (std::filesystem::exists(a, ec) && std::filesystem::exists(b, ec)) {
        const bool mesmo = std::filesystem::equivalent(a, b, ec);
        if (!ec) return mesmo;
    }
    Caminho x = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
    if (ec) x = a.lexically_normal();
    Caminho y = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
    if (ec) y = b.lexically_normal();
#ifdef _WIN32
    return _wcsicmp(x.c_str(), y.c_str()) == 0;
#else
    return x == y;
#endif
}

void ConferirArquivosDistintos(const std::vector<PapelDeArquivo>& arquivos) {
    for (size_t i = 0; i < arquivos.size(); ++i)
        for (size_t j = i + 1; j < arquivos.size(); ++j)
            if (arquivos[i].papel != arquivos[j].papel &&
                MesmoArquivo(arquivos[i].caminho, arquivos[j].caminho)) {
                std::string m =
                    arquivos[i].papel + " ('" + NomeParaMensagem(arquivos[i].caminho) + "') e " +
                    arquivos[j].papel + " ('" + NomeParaMensagem(arquivos[j].caminho) +
                    "') são o mesmo arquivo: gravar um destruiria o outro. Nada foi gravado; "
                    "informe caminhos diferentes.";
                if (!m.empty() && m[0] >= 'a' && m[0] <= 'z') m[0] = static_cast<char>(m[0] - 32);
                throw Erro(m);
            }
}

std::string LerBytes(const Caminho& caminho) {
    std::FILE* f = Abrir(caminho, false);
    if (!f)
        throw ErroArquivo("Não foi possível abrir o arquivo '" + NomeParaMensagem(caminho) +
                          "': " + Motivo(errno));
    std::string bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    const bool erro = std::ferror(f) != 0;
    const int codigo = errno;
    std::fclose(f);
    if (erro)
        throw ErroArquivo("Erro ao ler o arquivo '" + NomeParaMensagem(caminho) +
                          "': " + Motivo(codigo));
    return bytes;
}

LeitorDeLinhas::LeitorDeLinhas(const Caminho& caminho, size_t bloco)
    : caminho_(caminho), bloco_(std::max<size_t>(bloco, 1)) {
    arquivo_ = Abrir(caminho_, false);
    if (!arquivo_)
        throw ErroArquivo("Não foi possível abrir o arquivo '" + NomeParaMensagem(caminho_) +
                          "': " + Motivo(errno));
}

LeitorDeLinhas::LeitorDeLinhas(std::string_view bytes, size_t bloco)
    : memoria_(bytes), bloco_(std::max<size_t>(bloco, 1)) {}

LeitorDeLinhas::~LeitorDeLinhas() {
    if (arquivo_) std::fclose(arquivo_);
}

void LeitorDeLinhas::FalhaLeitura(int erro) const {
    throw ErroArquivo("Erro ao ler o arquivo '" + NomeParaMensagem(caminho_) +
                      "': " + Motivo(erro));
}

// One more block after the bytes not yet taken (fewer than a code unit, or the beginning the
// byte-order mark is looked for in); false when the bytes are all read.
bool LeitorDeLinhas::Encher() {
    if (esgotado_) return false;
    const size_t resto = fim_ - inicio_;
    if (buffer_.size() < resto + bloco_) buffer_.resize(resto + bloco_);
    std::memmove(buffer_.data(), buffer_.data() + inicio_, resto);
    inicio_ = 0;
    fim_ = resto;
    size_t n;
    if (arquivo_) {
        n = std::fread(buffer_.data() + fim_, 1, bloco_, arquivo_);
        if (n == 0 && std::ferror(arquivo_)) FalhaLeitura(errno);
    } else {
        n = std::min(bloco_, memoria_.size() - posicaoMemoria_);
        std::memcpy(buffer_.data() + fim_, memoria_.data() + posicaoMemoria_, n);
        posicaoMemoria_ += n;
    }
    if (n == 0) {
        esgotado_ = true;
        return false;
    }
    const std::string_view lidos(buffer_.data() + fim_, n);
    hash_.Acrescentar(lidos);
    if (observador_) observador_(lidos);
    fim_ += n;
    return true;
}

unsigned LeitorDeLinhas::Unidade(size_t i) const {
    const auto a = static_cast<unsigned char>(buffer_[i]);
    switch (codificacao_) {
        case Codificacao::Utf16LE:
            return static_cast<unsigned>(static_cast<unsigned char>(buffer_[i + 1]) << 8 | a);
        case Codificacao::Utf16BE:
            return static_cast<unsigned>(a << 8 | static_cast<unsigned char>(buffer_[i + 1]));
        default:
            return a;
    }
}

// A line's bytes hold no line end, so each line decodes as it would inside the whole text: no
// UTF-8 sequence, valid or not, takes a CR or an LF byte.
void LeitorDeLinhas::Decodificar(std::u16string& linha) const {
    switch (codificacao_) {
        case Codificacao::Utf8:
            linha = DeUtf8(bytesDaLinha_);
            break;
        case Codificacao::Utf16LE:
        case Codificacao::Utf16BE:
            linha = DeUtf16(bytesDaLinha_, codificacao_ == Codificacao::Utf16BE);
            break;
        default:
            linha = DeWindows1252(bytesDaLinha_);
            break;
    }
}

// The text ended at the NUL at inicio_. Padding after it (NULs, blanks, line ends) is dropped;
// anything else would be instalments silently lost, so the text is refused instead, naming the
// NUL's line.
void LeitorDeLinhas::ConferirDepoisDoNul() {
    terminado_ = true;
    do {
        for (size_t i = inicio_; i + unidade_ <= fim_; i += unidade_) {
            const unsigned c = Unidade(i);
            if (c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
            std::string m = "há um caractere NUL na linha " + std::to_string(lidas_ + 1) +
                            " seguido de mais texto; o arquivo parece corrompido e o que vem "
                            "depois seria ignorado";
            if (!caminho_.empty()) m = "Arquivo '" + NomeParaMensagem(caminho_) + "': " + m;
            throw ErroArquivo(m);
        }
        inicio_ = fim_ - (fim_ - inicio_) % unidade_;
    } while (Encher());
}

bool LeitorDeLinhas::Proxima(std::u16string& linha) {
    if (terminado_) return false;
    if (codificacao_ == Codificacao::Indefinida) {
        while (fim_ - inicio_ < 3 && Encher()) {
        }
        const std::string_view b(buffer_.data() + inicio_, fim_ - inicio_);
        codificacao_ = b.starts_with("\xEF\xBB\xBF") ? Codificacao::Utf8
                       : b.starts_with("\xFF\xFE")   ? Codificacao::Utf16LE
                       : b.starts_with("\xFE\xFF")   ? Codificacao::Utf16BE
                                                     : Codificacao::Windows1252;
        unidade_ =
            codificacao_ == Codificacao::Utf16LE || codificacao_ == Codificacao::Utf16BE ? 2 : 1;
        inicio_ += codificacao_ == Codificacao::Utf8          ? 3
                   : codificacao_ == Codificacao::Windows1252 ? 0
                                                              : 2;
    }
    bytesDaLinha_.clear();
    for (;;) {
        size_t i = inicio_;
        for (; i + unidade_ <= fim_; i += unidade_) {
            const unsigned c = Unidade(i);
            if (aposCR_) {
                aposCR_ = false;
                if (c == '\n') {  // the LF of a CR LF
                    inicio_ = i + unidade_;
                    continue;
                }
            }
            if (c != 0 && c != '\r' && c != '\n') continue;
            bytesDaLinha_.append(buffer_, inicio_, i - inicio_);
            inicio_ = i;
            if (c == 0) {
                ConferirDepoisDoNul();
                if (bytesDaLinha_.empty()) return false;
            } else {
                inicio_ += unidade_;
                aposCR_ = c == '\r';
            }
            Decodificar(linha);
            ++lidas_;
            return true;
        }
        bytesDaLinha_.append(buffer_, inicio_, i - inicio_);
        inicio_ = i;
        if (!Encher()) {
            // The end of the bytes; a last byte short of a UTF-16 code unit is no character.
            terminado_ = true;
            if (bytesDaLinha_.empty()) return false;
            Decodificar(linha);
            ++lidas_;
            return true;
        }
    }
}

std::string LeitorDeLinhas::Hash() {
    if (!resumo_) {
        terminado_ = true;
        do inicio_ = fim_;
        while (Encher());
        resumo_ = hash_.Concluir();
    }
    return *resumo_;
}

void LeitorDeLinhas::Rebobinar() {
    if (arquivo_) {
        std::clearerr(arquivo_);
        if (std::fseek(arquivo_, 0, SEEK_SET) != 0) FalhaLeitura(errno);
    }
    posicaoMemoria_ = 0;
    inicio_ = fim_ = 0;
    esgotado_ = terminado_ = aposCR_ = false;
    codificacao_ = Codificacao::Indefinida;
    unidade_ = 1;
    lidas_ = 0;
    if (!resumo_) hash_.Concluir();  // drops what the earlier pass added
    resumo_.reset();
}

std::vector<std::u16string> LinhasDoTexto(std::string_view bytes) {
    LeitorDeLinhas leitor = LeitorDeLinhas::DeBytes(bytes);
    std::vector<std::u16string> linhas;
    for (std::u16string linha; leitor.Proxima(linha);) linhas.push_back(std::move(linha));
    return linhas;
}

std::vector<std::u16string> LerLinhas(const Caminho& caminho) {
    LeitorDeLinhas leitor(caminho);
    std::vector<std::u16string> linhas;
    for (std::u16string linha; leitor.Proxima(linha);) linhas.push_back(std::move(linha));
    return linhas;
}

std::vector<std::u16string> LinhasDoArquivo(const Caminho& caminho, std::string_view bytes) {
    try {
        return LinhasDoTexto(bytes);
    } catch (const ErroArquivo& e) {
        throw ErroArquivo("Arquivo '" + NomeParaMensagem(caminho) + "': " + e.what());
    }
}

std::string LinhasWindows1252(const std::vector<std::u16string>& linhas) {
    std::string r;
    for (const auto& l : linhas) {
        r += ParaWindows1252(l);
        r += "\r\n";
    }
    return r;
}

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
        int fd = ::open(temporario_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        // Held until the file is closed: another run sees it is not left behind.
        if (fd >= 0) ::flock(fd, LOCK_EX);
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
}

void ArquivoTemporario::FalhaEscrita(int erro) {
    throw ErroArquivo("Erro ao gravar o arquivo '" + NomeParaMensagem(destino_) +
                      "': " + Motivo(erro));
}

void ArquivoTemporario::Escrever(std::string_view bytes) {
    if (!arquivo_) FalhaEscrita(EBADF);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), arquivo_) != bytes.size())
        FalhaEscrita(errno);
}

void ArquivoTemporario::EscreverLinha(std::u16string_view linha) {
    Escrever(ParaWindows1252(linha));
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
}

void ArquivoTemporario::Confirmar() {
    Fechar();
    std::error_code ec;
    std::filesystem::rename(temporario_, destino_, ec);
    if (ec)
        throw ErroArquivo("Não foi possível substituir o arquivo '" + NomeParaMensagem(destino_) +
                          "': " + Motivo(ec));
    confirmado_ = true;
}

Substituicao::~Substituicao() {
    if (!concluida_) Desfazer();
}

void Substituicao::Colocar(ArquivoTemporario& arquivo) {
    Item& item = itens_.emplace_back();
    item.destino = arquivo.Destino();
    try {
        std::error_code ec;
        if (std::filesystem::exists(item.destino, ec)) {
            std::random_device rd;
            do {
                item.anterior = item.destino;
                item.anterior += ".anterior" + std::to_string(rd() % 1000000);
            } while (std::filesystem::exists(item.anterior, ec));
            std::filesystem::rename(item.destino, item.anterior, ec);
            if (ec) {
                item.anterior.clear();
                throw ErroArquivo("Não foi possível substituir o arquivo '" +
                                  NomeParaMensagem(item.destino) + "': " + Motivo(ec));
            }
#ifndef _WIN32
            item.trava = Travar(item.anterior);
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
}

void Substituicao::Concluir() noexcept {
    std::error_code ec;
    for (Item& item : itens_) {
        if (!item.anterior.empty()) std::filesystem::remove(item.anterior, ec);
        Destravar(item.trava);
    }
    itens_.clear();
    concluida_ = true;
}

}  // namespace kavlo
