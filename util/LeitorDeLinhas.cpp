#include "util/LeitorDeLinhas.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/SistemaDeArquivos.h"

namespace kavlo {

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

}  // namespace kavlo
