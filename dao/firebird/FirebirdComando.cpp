// The statement: what it owns (the prepared statement, its input and output metadata) and how
// its parameters are put into the input message.
#include <firebird/Interface.h>
#include <ibase.h>

#include <algorithm>

#include "dao/firebird/Firebird.h"
#include "dao/firebird/FirebirdInterno.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"

namespace kavlo::fb {

using namespace Firebird;

namespace {

// The most bytes a character takes in a character set of the catalogue (one for the rest).
unsigned BytesPorCaractere(unsigned cs) {
    switch (cs) {
        case charset::UnicodeFss:
            return 3;
        case charset::Utf8:
        case 69:  // GB18030
            return 4;
        case 5:   // SJIS_0208
        case 6:   // EUCJ_0208
        case 44:  // KSC_5601
        case 56:  // BIG_5
        case 57:  // GB_2312
        case 67:  // GBK
        case 68:  // CP943C
            return 2;
        default:
            return 1;
    }
}

}  // namespace

Comando::Comando(Transacao& transacao, std::u16string_view sql, std::string oQue)
    : transacao_(transacao), sql_(sql), oQue_(std::move(oQue)) {
    Preparar();
}

Comando::Comando(Transacao& transacao, std::string_view sql, std::string oQue)
    : transacao_(transacao), sql_(DeUtf8(sql)), oQue_(std::move(oQue)) {
    Preparar();
}

// Each owner ends its part; a half-built statement (a constructor that threw) is ended the same
// way, by the members already made.
Comando::~Comando() = default;

// The statement stays out of the message, for the operator reads it; it goes with the error.
void Comando::Falhar(const Diagnostico& status) const {
    throw status.Erro("Erro no banco de dados ao " + oQue_ + ": " + status.Mensagem(),
                      SqlParaMensagem(sql_));
}

void Comando::Falhar(const std::string& problema) const {
    throw ErroBanco("Erro no banco de dados ao " + oQue_ + ": " + problema, {}, {},
                    SqlParaMensagem(sql_));
}

void Comando::Preparar() {
    Status st(*this);
    const std::string texto = TextoDoComando(sql_);
    statement_.reset(transacao_.Dono().Handle()->prepare(
        &st, transacao_.Handle(), static_cast<unsigned>(texto.size()), texto.data(), 1,
        IStatement::PREPARE_PREFETCH_METADATA));
    entradaOriginal_.reset(statement_->getInputMetadata(&st));
    DescreverEntrada();
    DescreverSaida();
}

// The parameters as the server infers them, read once: each run's texts are encoded for them.
void Comando::DescreverEntrada() {
    Status st(*this);
    const unsigned n = entradaOriginal_->getCount(&st);
    formaOriginal_.reserve(n);
    for (unsigned i = 0; i < n; ++i) {
        Forma f{entradaOriginal_->getType(&st, i), 0, charset::Nenhum};
        if (f.tipo == SQL_TEXT || f.tipo == SQL_VARYING) {
            f.tamanho = entradaOriginal_->getLength(&st, i);
            f.charset = entradaOriginal_->getCharSet(&st, i);
        }
        formaOriginal_.push_back(f);
    }
}

// Chooses, per text column, the form its value comes in: the column's own bytes where this layer
// decodes them exactly, else UTF-8 converted by the server. Nothing a column holds can then fail
// the fetch.
void Comando::DescreverSaida() {
    Status st(*this);
    Posse<IMessageMetadata> original(statement_->getOutputMetadata(&st));
    const unsigned n = original->getCount(&st);
    std::vector<Leitura> leituras(n, Leitura::Windows1252);
    std::vector<unsigned> charsets(n, 0);
    Referencia<IMetadataBuilder> construtor;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned tipo = original->getType(&st, i);
        if (tipo != SQL_TEXT && tipo != SQL_VARYING) continue;
        charsets[i] = original->getCharSet(&st, i);
        // The high byte names the collation; the decoding depends on the character set alone.
        const unsigned cs = original->getCharSet(&st, i) & 0xFF;
        switch (cs) {
            case charset::Nenhum:  // what the payroll application wrote: Windows-1252
            case charset::Win1252:
                leituras[i] = Leitura::Windows1252;
                break;
            case charset::Octetos:
                leituras[i] = Leitura::Octetos;
                break;
            // ISO8859_1 is read by the byte: the server will not convert its bytes 0x80-0x9F
            // to WIN1252.
            case charset::Ascii:
            case charset::Latin1:
                leituras[i] = Leitura::Latin1;
                break;
            case charset::Utf8:
                leituras[i] = Leitura::Utf8;
                break;
            // UNICODE_FSS is read by the byte too: a character outside the Basic Multilingual
            // Plane may be in it as four bytes of UTF-8 (which the server's conversion to UTF8
            // garbles) or as two surrogates (as the server writes it from a UTF8 text).
            case charset::UnicodeFss:
                leituras[i] = Leitura::UnicodeFss;
                break;
            default: {
                // WIN1250, KOI8R, ...: the server converts them to UTF-8 exactly.
                leituras[i] = Leitura::Utf8;
                if (!construtor) construtor.reset(original->getBuilder(&st));
                const unsigned caracteres = original->getLength(&st, i) / BytesPorCaractere(cs);
                const unsigned limite = tipo == SQL_VARYING ? 32765 : 32767;
                construtor->setCharSet(&st, i, charset::Utf8);
                construtor->setLength(&st, i, std::min(caracteres * 4, limite));
            }
        }
    }
    if (construtor) {
        saida_.reset(construtor->getMetadata(&st));
    } else {
        saida_ = std::move(original);
    }
    colunas_.reserve(n);
    for (unsigned i = 0; i < n; ++i) {
        Coluna c;
        c.nome = Maiusculas(saida_->getAlias(&st, i));
        c.tipo = saida_->getType(&st, i);
        c.tamanho = saida_->getLength(&st, i);
        c.offset = saida_->getOffset(&st, i);
        c.offsetNulo = saida_->getNullOffset(&st, i);
        c.escala = saida_->getScale(&st, i);
        c.leitura = leituras[i];
        c.charset = charsets[i];
        porNome_.emplace(c.nome, i);  // the first column of a name wins
        colunas_.push_back(std::move(c));
    }
    tamanhoSaida_ = saida_->getMessageLength(&st);
}

std::optional<Comando::Colacao> Comando::ColacaoDoTexto(unsigned i) const {
    if (i >= colunas_.size()) return std::nullopt;
    const Coluna& c = colunas_[i];
    if (c.tipo != SQL_TEXT && c.tipo != SQL_VARYING) return std::nullopt;
    return Colacao{c.charset & 0xFF, c.charset >> 8};
}

unsigned Comando::Parametros() const {
    return static_cast<unsigned>(formaOriginal_.size());
}

std::optional<Comando::Colacao> Comando::ColacaoDoParametro(unsigned i) const {
    if (i >= Parametros()) return std::nullopt;
    const Forma& f = formaOriginal_[i];
    if (f.tipo != SQL_TEXT && f.tipo != SQL_VARYING) return std::nullopt;
    return Colacao{f.charset & 0xFF, f.charset >> 8};
}

// The parameters go into the input message in three steps: their shape (types, lengths,
// character sets, which the encoded texts decide), the message rebuilt when that shape changed,
// and the values written into it.
void Comando::MontarEntrada(const std::vector<Parametro>& parametros) {
    const unsigned n = ConferirQuantidade(parametros);
    if (n == 0) return;
    std::vector<std::string> textos(n);
    std::vector<Forma> forma(n);
    for (unsigned i = 0; i < n; ++i) forma[i] = FormaDoParametro(i, parametros[i], textos[i]);
    if (forma != formaEntrada_ || !entrada_) RefazerEntrada(forma);
    for (unsigned i = 0; i < n; ++i) GravarParametro(i, parametros[i], textos[i]);
}

unsigned Comando::ConferirQuantidade(const std::vector<Parametro>& parametros) const {
    const unsigned n = Parametros();
    if (parametros.size() != n)
        throw ErroBanco("Erro interno ao " + oQue_ + ": o comando espera " + std::to_string(n) +
                        " parâmetro(s), " + std::to_string(parametros.size()) + " informado(s).");
    return n;
}

// A text is encoded here, into `texto`: its length decides the message's shape.
Comando::Forma Comando::FormaDoParametro(unsigned i, const Parametro& p, std::string& texto) const {
    if (auto* s = std::get_if<std::u16string>(&p)) return FormaDoTexto(i, *s, texto);
    if (auto* o = std::get_if<Octetos>(&p))
        return {SQL_TEXT, static_cast<unsigned>(o->bytes.size()), charset::Octetos};
    if (std::holds_alternative<int64_t>(p)) return {SQL_INT64, 8, 0};
    if (std::holds_alternative<double>(p)) return {SQL_DOUBLE, 8, 0};
    if (std::holds_alternative<Data>(p)) return {SQL_TIMESTAMP, 8, 0};
    // A NULL keeps the shape of the previous run: a column that alternates between NULL and
    // values must not rebuild the message row after row.
    if (i < formaEntrada_.size()) return formaEntrada_[i];
    return {SQL_VARYING, 1, charset::Win1252};
}

Comando::Forma Comando::FormaDoTexto(unsigned i, std::u16string_view valor,
                                     std::string& texto) const {
    const unsigned cs = formaOriginal_[i].charset;
    // A UTF8 or UNICODE_FSS place takes any text as it is. Anywhere else the text goes in
    // Windows-1252, as it always did: the server converts it exactly to a WIN1252 or ISO8859_1
    // column and copies it byte for byte to a NONE one, where it meets the bytes the payroll
    // application wrote.
    const bool utf8 = cs == charset::Utf8 || cs == charset::UnicodeFss;
    texto = utf8 ? ParaUtf8(valor) : ParaWindows1252(valor);
    // Firebird checks the declared length against the parameter's own: declare the parameter's
    // length when the text fits, so a statement run per row keeps one shape.
    const auto tamanho = static_cast<unsigned>(texto.size());
    if (tamanho > 32000) Falhar("texto longo demais para o banco");
    return {SQL_VARYING, std::max({tamanho, formaOriginal_[i].tamanho, 1u}),
            utf8 ? charset::Utf8 : charset::Win1252};
}

void Comando::RefazerEntrada(const std::vector<Forma>& forma) {
    Status st(*this);
    Referencia<IMetadataBuilder> b(entradaOriginal_->getBuilder(&st));
    for (unsigned i = 0; i < forma.size(); ++i) {
        b->setType(&st, i, forma[i].tipo);
        if (forma[i].tipo == SQL_TEXT || forma[i].tipo == SQL_VARYING)
            b->setCharSet(&st, i, forma[i].charset);
        if (forma[i].tipo == SQL_INT64) b->setScale(&st, i, 0);
        b->setLength(&st, i, forma[i].tamanho);
    }
    entrada_.reset(b->getMetadata(&st));
    lugaresEntrada_.clear();
    for (unsigned i = 0; i < forma.size(); ++i)
        lugaresEntrada_.push_back({entrada_->getOffset(&st, i), entrada_->getNullOffset(&st, i)});
    formaEntrada_ = forma;
    bufferEntrada_.assign(entrada_->getMessageLength(&st), 0);
}

void Comando::GravarParametro(unsigned i, const Parametro& p, const std::string& texto) {
    unsigned char* v = bufferEntrada_.data() + lugaresEntrada_[i].valor;
    Gravar<short>(bufferEntrada_.data() + lugaresEntrada_[i].nulo,
                  static_cast<short>(std::holds_alternative<Nulo>(p) ? -1 : 0));
    if (std::holds_alternative<std::u16string>(p)) {
        Gravar<uint16_t>(v, static_cast<uint16_t>(texto.size()));
        std::memcpy(v + 2, texto.data(), texto.size());
    } else if (auto* o = std::get_if<Octetos>(&p)) {
        std::memcpy(v, o->bytes.data(), o->bytes.size());
    } else if (auto* inteiro = std::get_if<int64_t>(&p)) {
        Gravar<int64_t>(v, *inteiro);
    } else if (auto* real = std::get_if<double>(&p)) {
        Gravar<double>(v, *real);
    } else if (auto* data = std::get_if<Data>(&p)) {
        int32_t dias;
        uint32_t fracoes;
        ParaDataFirebird(data->valor, dias, fracoes);
        Gravar<int32_t>(v, dias);
        Gravar<uint32_t>(v + 4, fracoes);
    } else if (formaEntrada_[i].tipo == SQL_VARYING) {
        Gravar<uint16_t>(v, 0);
    }
}

Cursor Comando::Abrir(const std::vector<Parametro>& parametros) {
    MontarEntrada(parametros);
    Status st(*this);
    Posse<IResultSet> resultado(statement_->openCursor(
        &st, transacao_.Handle(), parametros.empty() ? nullptr : entrada_.get(),
        parametros.empty() ? nullptr : bufferEntrada_.data(), saida_.get(), 0));
    return Cursor(*this, std::move(resultado));
}

uint64_t Comando::Executar(const std::vector<Parametro>& parametros) {
    MontarEntrada(parametros);
    Status st(*this);
    statement_->execute(&st, transacao_.Handle(), parametros.empty() ? nullptr : entrada_.get(),
                        parametros.empty() ? nullptr : bufferEntrada_.data(), nullptr, nullptr);
    const uint64_t n = statement_->getAffectedRecords(&st);
    return n;
}

}  // namespace kavlo::fb
