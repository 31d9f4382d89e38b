#include "util/Arquivos.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Permissoes.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// ---------------------------------------------------------------------------------------------
// Records of sets placed before their fate is known (Substituicao::Registrar). A record is a small
// text file, one field a line, written whole and synced before any file of its set moves:
//
//   KAVLO-COLOCACAO 1
//   decisao=<what decides>
//   registro=<a copy of this record>          one line per copy
//   destino=<path>  anterior=<path or empty>  hash=<SHA-256 of the new file>   three lines per file
//   fim
//
// Values are UTF-8 with "%", CR and LF written as %25, %0D and %0A. A record is written under a
// temporary name and named only once complete and held (CriarRegistro); a file of that name that
// does not read as one is not this library's, and is left alone.

constexpr std::string_view kCabecalhoRegistro = "KAVLO-COLOCACAO 1";
constexpr std::string_view kMarcaRegistro = ".pendente";

std::string Escapar(std::string_view texto) {
    std::string r;
    for (char c : texto) {
        if (c == '%')
            r += "%25";
        else if (c == '\r')
            r += "%0D";
        else if (c == '\n')
            r += "%0A";
        else
            r += c;
    }
    return r;
}

std::string Desescapar(std::string_view texto) {
    std::string r;
    for (size_t i = 0; i < texto.size(); ++i) {
        if (texto[i] == '%' && i + 2 < texto.size()) {
            const std::string_view codigo = texto.substr(i + 1, 2);
            r += codigo == "25" ? '%' : codigo == "0D" ? '\r' : codigo == "0A" ? '\n' : '?';
            i += 2;
        } else {
            r += texto[i];
        }
    }
    return r;
}

std::string CaminhoParaRegistro(const Caminho& c) {
#ifdef _WIN32
    const std::wstring w = c.wstring();
    return ParaUtf8(std::u16string(w.begin(), w.end()));
#else
    return c.native();
#endif
}

Caminho CaminhoDoRegistro(const std::string& texto) {
#ifdef _WIN32
    return CaminhoDe(DeUtf8(texto));
#else
    return Caminho(texto);
#endif
}

std::string TextoDoRegistro(const ColocacaoPendente& c) {
    std::string r = std::string(kCabecalhoRegistro) + "\n";
    r += "decisao=" + Escapar(c.decisao) + "\n";
    for (const Caminho& registro : c.registros)
        r += "registro=" + Escapar(CaminhoParaRegistro(registro)) + "\n";
    for (const auto& item : c.itens) {
        r += "destino=" + Escapar(CaminhoParaRegistro(item.destino)) + "\n";
        r += "anterior=" + Escapar(CaminhoParaRegistro(item.anterior)) + "\n";
        r += "hash=" + item.hash + "\n";
    }
    return r + "fim\n";
}

std::optional<ColocacaoPendente> LerRegistro(std::string_view texto) {
    ColocacaoPendente c;
    bool cabecalho = false, fim = false;
    for (size_t i = 0; i < texto.size();) {
        size_t quebra = texto.find('\n', i);
        if (quebra == std::string_view::npos) return std::nullopt;  // cut short
        const std::string_view linha = texto.substr(i, quebra - i);
        i = quebra + 1;
        if (!cabecalho) {
            if (linha != kCabecalhoRegistro) return std::nullopt;
            cabecalho = true;
            continue;
        }
        if (linha == "fim") {
            fim = true;
            break;
        }
        const size_t igual = linha.find('=');
        if (igual == std::string_view::npos) return std::nullopt;
        const std::string_view chave = linha.substr(0, igual);
        const std::string valor = Desescapar(linha.substr(igual + 1));
        if (chave == "decisao") {
            c.decisao = valor;
        } else if (chave == "registro") {
            c.registros.push_back(CaminhoDoRegistro(valor));
        } else if (chave == "destino") {
            c.itens.push_back({CaminhoDoRegistro(valor), {}, {}});
        } else if (chave == "anterior" && !c.itens.empty()) {
            if (!valor.empty()) c.itens.back().anterior = CaminhoDoRegistro(valor);
        } else if (chave == "hash" && !c.itens.empty()) {
            c.itens.back().hash = valor;
        } else {
            return std::nullopt;
        }
    }
    if (!fim) return std::nullopt;
    return c;
}

// A record's lock: held by its writer while it lives, by a settler while it settles; -1 when
// somebody else holds it (or the file is gone).
int TravarRegistro(const Caminho& c) {
#ifdef _WIN32
    int fd = -1;
    if (_wsopen_s(&fd, c.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW, 0) != 0) return -1;
    return fd;
#else
    return Travar(c);
#endif
}

void SoltarTrava(int& fd) {
#ifdef _WIN32
    if (fd >= 0) _close(fd);
#else
    if (fd >= 0) ::close(fd);
#endif
    fd = -1;
}

std::string LerDoDescritor(int fd) {
    std::string r;
    char buf[4096];
#ifdef _WIN32
    _lseek(fd, 0, SEEK_SET);
    for (int n; (n = _read(fd, buf, sizeof buf)) > 0;) r.append(buf, static_cast<size_t>(n));
#else
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) r.append(buf, static_cast<size_t>(n));
#endif
    return r;
}

// Writes and syncs a record's copy under the name `temporario`, takes its lock and only then
// gives it its name `registro`, so that nobody ever finds a copy incomplete or unheld while its
// writer lives. Returns the lock, or -1 with errno set (nothing left behind).
int CriarRegistro(const Caminho& registro, const Caminho& temporario, std::string_view texto) {
    bool ok = false;
#ifdef _WIN32
    int fd = -1;
    if (_wsopen_s(&fd, temporario.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYWR,
                  _S_IREAD | _S_IWRITE) != 0)
        return -1;
    ok = _write(fd, texto.data(), static_cast<unsigned>(texto.size())) ==
             static_cast<int>(texto.size()) &&
         _commit(fd) == 0;
    // An open file is renamed only by the handle that has it; Windows keeps the name on close.
    if (ok) {
        SoltarTrava(fd);
        std::error_code ec;
        std::filesystem::rename(temporario, registro, ec);
        ok = !ec;
        if (ok) {
            // Held again at once, for as long as the set is this process's.
            fd = -1;
            if (_wsopen_s(&fd, registro.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYWR, 0) != 0) {
                fd = -1;
                ok = false;
            }
        }
    }
#else
    const int fd = ::open(temporario.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
         ::write(fd, texto.data(), texto.size()) == static_cast<ssize_t>(texto.size()) &&
         ::fsync(fd) == 0 && ::rename(temporario.c_str(), registro.c_str()) == 0;
    // The record's name must be on disk before anything it describes moves.
    if (ok) {
        const Caminho pasta = registro.has_parent_path() ? registro.parent_path() : Caminho(".");
        const int dir = ::open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ok = dir >= 0 && ::fsync(dir) == 0;
        if (dir >= 0) ::close(dir);
    }
#endif
    if (!ok) {
        const int erro = errno;
        int copia = fd;
        SoltarTrava(copia);
        std::error_code ec;
        std::filesystem::remove(temporario, ec);
        std::filesystem::remove(registro, ec);
        errno = erro;
        return -1;
    }
    return fd;
}

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

Caminho CaminhoDe(std::u16string_view texto) {
#ifdef _WIN32
    return Caminho(std::wstring(texto.begin(), texto.end()));
#else
    return Caminho(ParaUtf8(texto));
#endif
}

std::u16string TextoDoCaminho(const Caminho& caminho) {
#ifdef _WIN32
    const std::wstring w = caminho.wstring();
    return std::u16string(w.begin(), w.end());
#else
    return DeUtf8(caminho.native());
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
// UTF-8 sequence, valid or not, takes a CR or an LF byte. Unicode lines are composed, so that the
// fixed positions count what a person sees: a letter written with its accent apart is one
// character, as in the Windows-1252 file the layout was made for.
void LeitorDeLinhas::Decodificar(std::u16string& linha) const {
    switch (codificacao_) {
        case Codificacao::Utf8:
            linha = Compor(DeUtf8(bytesDaLinha_));
            break;
        case Codificacao::Utf16LE:
        case Codificacao::Utf16BE:
            linha = Compor(DeUtf16(bytesDaLinha_, codificacao_ == Codificacao::Utf16BE));
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
    fimDaLinha_.clear();
    for (;;) {
        size_t i = inicio_;
        for (; i + unidade_ <= fim_; i += unidade_) {
            const unsigned c = Unidade(i);
            if (c != 0 && c != '\r' && c != '\n') continue;
            bytesDaLinha_.append(buffer_, inicio_, i - inicio_);
            inicio_ = i;
            if (c == 0) {
                ConferirDepoisDoNul();
                if (bytesDaLinha_.empty()) return false;
            } else {
                fimDaLinha_.assign(buffer_, inicio_, unidade_);
                inicio_ += unidade_;
                // A CR followed by an LF ends one line: the LF is taken now, so that the line's
                // end is known whole when the line is given.
                if (c == '\r') {
                    while (fim_ - inicio_ < unidade_ && Encher()) {
                    }
                    if (fim_ - inicio_ >= unidade_ && Unidade(inicio_) == '\n') {
                        fimDaLinha_.append(buffer_, inicio_, unidade_);
                        inicio_ += unidade_;
                    }
                }
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

std::string_view LeitorDeLinhas::Marca() const {
    switch (codificacao_) {
        case Codificacao::Utf8:
            return "\xEF\xBB\xBF";
        case Codificacao::Utf16LE:
            return "\xFF\xFE";
        case Codificacao::Utf16BE:
            return "\xFE\xFF";
        default:
            return {};
    }
}

std::string LeitorDeLinhas::Codificar(std::u16string_view texto) const {
    switch (codificacao_) {
        case Codificacao::Utf8:
            return ParaUtf8(texto);
        case Codificacao::Utf16LE:
        case Codificacao::Utf16BE: {
            std::string r;
            r.reserve(texto.size() * 2);
            const bool be = codificacao_ == Codificacao::Utf16BE;
            for (const char16_t u : texto) {
                const char alto = static_cast<char>(u >> 8), baixo = static_cast<char>(u & 0xFF);
                r += be ? alto : baixo;
                r += be ? baixo : alto;
            }
            return r;
        }
        default:
            return ParaWindows1252MelhorAjuste(texto);
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
    esgotado_ = terminado_ = false;
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

Caminho PastaDasColocacoes() {
#ifdef _WIN32
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !*local) return {};
    return Caminho(local) / L"DllKavlo";
#else
    if (const char* estado = std::getenv("XDG_STATE_HOME"); estado && *estado == '/')
        return Caminho(estado) / "kavlo";
    if (const char* casa = std::getenv("HOME"); casa && *casa == '/')
        return Caminho(casa) / ".local" / "state" / "kavlo";
    return {};
#endif
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
