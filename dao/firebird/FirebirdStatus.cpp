// What a failed call of the client means for the operator, and the status that throws it.
#include <firebird/Interface.h>
#include <ibase.h>
#include <iberror.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "dao/Direitos.h"
#include "dao/firebird/Firebird.h"
#include "dao/firebird/FirebirdInterno.h"
#include "util/Codificacao.h"
#include "util/Erros.h"

namespace kavlo::fb {

using namespace Firebird;

Status::Status(std::string contexto)
    : BaseStatusWrapper(Mestre()->getStatus()), contexto_(std::move(contexto)) {}

Status::Status(const Comando& comando)
    : BaseStatusWrapper(Mestre()->getStatus()), comando_(&comando) {}

Status::~Status() {
    status->dispose();
}

void Status::checkException(Status* s) {
    if (!s->dirty || (s->getState() & IStatus::STATE_ERRORS) == 0) return;
    const Diagnostico falha(*s->status);
    if (s->comando_) s->comando_->Falhar(falha);
    throw falha.Erro(s->contexto_ + ": " + falha.Mensagem());
}

std::vector<long> Diagnostico::Codigos() const {
    std::vector<long> r;
    const ISC_STATUS* v = status_.getErrors();
    for (size_t i = 0; v && v[i] != isc_arg_end && i < 40;) {
        const ISC_STATUS tipo = v[i];
        if (tipo == isc_arg_gds) r.push_back(static_cast<long>(v[i + 1]));
        i += tipo == isc_arg_cstring ? 3 : 2;
    }
    return r;
}

std::vector<std::string> Diagnostico::Argumentos() const {
    return ArgumentosDe(0);
}

std::vector<std::string> Diagnostico::ArgumentosDe(long codigo) const {
    std::vector<std::string> r;
    const ISC_STATUS* v = status_.getErrors();
    bool dele = codigo == 0;  // 0: every error's texts
    for (size_t i = 0; v && v[i] != isc_arg_end && i < 40;) {
        const ISC_STATUS tipo = v[i];
        if (codigo != 0 && tipo == isc_arg_gds) dele = v[i + 1] == codigo;
        if (dele &&
            (tipo == isc_arg_string || tipo == isc_arg_interpreted || tipo == isc_arg_sql_state))
            r.push_back(ParaMensagem(DeWindows1252(reinterpret_cast<const char*>(v[i + 1]))));
        else if (dele && tipo == isc_arg_cstring)
            r.push_back(ParaMensagem(DeWindows1252(std::string_view(
                reinterpret_cast<const char*>(v[i + 2]), static_cast<size_t>(v[i + 1])))));
        i += tipo == isc_arg_cstring ? 3 : 2;
    }
    return r;
}

bool TabelaInexistente(const ErroBanco& erro) {
    return erro.Tem(isc_dsql_relation_err);
}

std::optional<ErroBanco::Posicao> Diagnostico::PosicaoNoSql() const {
    const ISC_STATUS* v = status_.getErrors();
    for (size_t i = 0; v && v[i] != isc_arg_end && i < 40;) {
        const ISC_STATUS tipo = v[i];
        // These errors carry the line and the column as their first two numbers.
        if (tipo == isc_arg_gds &&
            (v[i + 1] == isc_dsql_token_unk_err || v[i + 1] == isc_dsql_line_col_error ||
             v[i + 1] == isc_command_end_err2) &&
            i + 5 < 40 && v[i + 2] == isc_arg_number && v[i + 4] == isc_arg_number)
            return ErroBanco::Posicao{static_cast<long>(v[i + 3]), static_cast<long>(v[i + 5])};
        i += tipo == isc_arg_cstring ? 3 : 2;
    }
    return std::nullopt;
}

ErroBanco Diagnostico::Erro(const std::string& mensagem, std::string sql) const {
    return ErroBanco(mensagem, Codigos(), Argumentos(), std::move(sql), Original(), PosicaoNoSql());
}

int Diagnostico::ErroDoSistema() const {
    const ISC_STATUS* v = status_.getErrors();
    for (size_t i = 0; v && v[i] != isc_arg_end && i < 40;) {
        const ISC_STATUS tipo = v[i];
        if (tipo == isc_arg_unix || tipo == isc_arg_win32) return static_cast<int>(v[i + 1]);
#ifndef _WIN32
        // A server sends the system's error as the text the C library gives it (strerror), not
        // as its number; the server on this machine, or one of its kind, has the same table.
        if (tipo == isc_arg_interpreted && v[i + 1])
            for (int codigo : {ENOENT, ENOTDIR, EACCES, EPERM, EROFS, ENOSPC, EDQUOT})
                if (std::strcmp(reinterpret_cast<const char*>(v[i + 1]), std::strerror(codigo)) ==
                    0)
                    return codigo;
#endif
        i += tipo == isc_arg_cstring ? 3 : 2;
    }
    return 0;
}

namespace {

// The operating system's error behind a failed file operation of the engine, the same on every
// platform the library runs on (errno on Linux, GetLastError on Windows).
enum class Sistema { Outro, NaoExiste, SemPermissao, SomenteLeitura, DiscoCheio };

Sistema ErroDoArquivo(int codigo) {
#ifdef _WIN32
    switch (codigo) {
        case 2:  // ERROR_FILE_NOT_FOUND
        case 3:  // ERROR_PATH_NOT_FOUND
            return Sistema::NaoExiste;
        case 5:   // ERROR_ACCESS_DENIED
        case 32:  // ERROR_SHARING_VIOLATION
            return Sistema::SemPermissao;
        case 19:  // ERROR_WRITE_PROTECT
            return Sistema::SomenteLeitura;
        case 39:   // ERROR_HANDLE_DISK_FULL
        case 112:  // ERROR_DISK_FULL
            return Sistema::DiscoCheio;
        default:
            return Sistema::Outro;
    }
#else
    switch (codigo) {
        case ENOENT:
        case ENOTDIR:
            return Sistema::NaoExiste;
        case EACCES:
        case EPERM:
            return Sistema::SemPermissao;
        case EROFS:
            return Sistema::SomenteLeitura;
        case ENOSPC:
        case EDQUOT:
            return Sistema::DiscoCheio;
        default:
            return Sistema::Outro;
    }
#endif
}

constexpr std::string_view kServidor =
    "; para que vários programas usem o banco ao mesmo tempo, todos devem abri-lo pelo servidor "
    "Firebird, com localhost: antes do caminho (localhost:/pasta/folha.fdb)";

// What the kinds of error an operator meets mean, in Portuguese, with what to check. Told by the
// client's error codes and the operating system's error, never by the engine's English. Empty for
// an error of another kind.
std::string Explicacao(const std::vector<long>& codigos, const std::vector<std::string>& argumentos,
                       int sistema) {
    auto tem = [&](long c) {
        return std::find(codigos.begin(), codigos.end(), c) != codigos.end();
    };
    auto ultimo = [&] { return argumentos.empty() ? std::string() : " " + argumentos.back(); };
    if (tem(isc_dsql_relation_err))
        return "a tabela" + ultimo() + " não existe neste banco de dados";
    if (tem(isc_dsql_field_err)) return "a coluna" + ultimo() + " não existe";
    if (tem(isc_dsql_procedure_err))
        return "o procedimento" + ultimo() + " não existe neste banco de dados";
    if (tem(isc_dsql_function_err))
        return "a função" + ultimo() + " não existe neste banco de dados";
    if (tem(isc_dsql_token_unk_err) || tem(isc_command_end_err) || tem(isc_command_end_err2))
        return "o comando SQL tem um erro de sintaxe" +
               (tem(isc_dsql_token_unk_err) && !argumentos.empty()
                    ? " perto de '" + argumentos.back() + "'"
                    : std::string(": ele termina antes do esperado"));
    if (tem(isc_lock_conflict) || tem(isc_update_conflict) || tem(isc_deadlock) ||
        tem(isc_lock_timeout))
        return "outro programa alterou ou está alterando os mesmos dados; espere que ele termine "
               "e repita";
    // Embedded, the engine holds the file for its process alone; a server holds it for itself.
    if (tem(isc_already_opened) ||
        (tem(isc_io_error) &&
         std::find(argumentos.begin(), argumentos.end(), "lock") != argumentos.end()))
        return "o arquivo do banco de dados está aberto por outro programa, que o usa "
               "diretamente (ou é o servidor Firebird que o tem aberto); espere que ele termine" +
               std::string(kServidor);
    const bool arquivo = tem(isc_io_error) || tem(isc_io_open_err) || tem(isc_io_create_err) ||
                         tem(isc_io_read_err) || tem(isc_io_write_err) || tem(isc_io_access_err);
    if (arquivo || tem(isc_out_of_temp_space)) {
        switch (ErroDoArquivo(sistema)) {
            case Sistema::NaoExiste:
                return "o arquivo do banco de dados não existe; confira o caminho informado (a "
                       "pasta e o nome do arquivo)";
            case Sistema::SemPermissao:
                return "o sistema negou acesso ao arquivo do banco de dados; confira as "
                       "permissões do arquivo e da pasta para o usuário que o abre (pelo "
                       "servidor, é o usuário do serviço Firebird)";
            case Sistema::SomenteLeitura:
                return "o arquivo do banco de dados está num disco ou pasta somente de leitura e "
                       "não pode ser gravado";
            case Sistema::DiscoCheio:
                return "o disco do banco de dados está cheio; libere espaço e repita";
            case Sistema::Outro:
                break;
        }
        if (tem(isc_out_of_temp_space))
            return "faltou espaço para os arquivos temporários do banco de dados; libere espaço "
                   "em disco e repita";
        if (tem(isc_io_read_err) || tem(isc_io_write_err))
            return "houve um erro de leitura ou gravação no arquivo do banco de dados; confira o "
                   "disco e o arquivo (gfix -v -full) e repita";
        return "o arquivo do banco de dados não pôde ser aberto; confira o caminho e se ele é "
               "um banco de dados Firebird acessível a este usuário";
    }
    if (tem(isc_bad_db_format) || tem(isc_wrong_ods))
        return "o arquivo não é um banco de dados que este Firebird abra; confira o caminho (ele "
               "deve levar ao arquivo .fdb da folha) e a versão do Firebird";
    if (tem(isc_read_only_database))
        return "o banco de dados está marcado como somente leitura e não pode ser gravado; o "
               "administrador o libera com gfix -mode read_write";
    if (tem(isc_login))
        return "o usuário ou a senha do banco de dados não foram aceitos; confira o login";
    if (tem(isc_shutdown) || tem(isc_shutinprog) || tem(isc_att_shutdown))
        return "o banco de dados está fechado para manutenção (shutdown); espere que o "
               "administrador o reabra (gfix -online) e repita";
    if (tem(isc_network_error) || tem(isc_net_read_err) || tem(isc_net_write_err) ||
        tem(isc_conn_lost) || tem(isc_unavailable))
        return "a comunicação com o servidor do banco de dados falhou; confira se o servidor "
               "Firebird está no ar e se a rede chega a ele, e repita";
    if (tem(isc_convert_error))
        return "o valor" + (argumentos.empty() ? std::string() : " '" + argumentos.back() + "'") +
               " não pôde ser convertido para o tipo com que o comando o compara ou grava (um "
               "texto comparado com um número?)";
    if (tem(isc_string_truncation)) return "um texto não cabe no tamanho da coluna ou da expressão";
    if (tem(isc_arith_except))
        return "um cálculo do comando excedeu o tamanho ou a precisão do tipo numérico";
    if (tem(isc_cancelled)) return "a operação foi cancelada";
    return {};
}

}  // namespace

std::string Diagnostico::Mensagem() const {
    const std::vector<long> codigos = Codigos();
    const std::vector<std::string> semPermissao = ArgumentosDe(isc_no_priv);
    // A file the operating system lets nobody write: no right of any user would change that.
    if (semPermissao.size() >= 2 && semPermissao[0] == "read-write" &&
        semPermissao[1] == "database")
        return "o arquivo do banco de dados não pode ser gravado (ele está somente para leitura no "
               "sistema de arquivos); dê permissão de gravação ao arquivo e repita";
    std::string explicacao = ExplicarFaltaDeDireito(codigos, semPermissao);
    if (explicacao.empty()) explicacao = Explicacao(codigos, Argumentos(), ErroDoSistema());
    if (!explicacao.empty()) return explicacao;
    // The most particular code comes last, before the position of a statement's error.
    long codigo = 0;
    for (long c : codigos)
        if (c != isc_dsql_line_col_error) codigo = c;
    return "o banco de dados recusou a operação (erro " +
           (codigo ? std::to_string(codigo) : std::string("desconhecido")) +
           " do Firebird); para ver o texto do Firebird, repita com kavlo --detalhes";
}

std::string Diagnostico::Original() const {
    char buf[4096];
    Mestre()->getUtilInterface()->formatStatus(buf, sizeof buf, &status_);
    // The client's texts are ASCII; what it quotes (a key, a path) comes in the bytes the server
    // had: UTF-8 for paths and UTF8 columns, Windows-1252 for most payroll data.
    const std::string_view bytes(buf);
    std::u16string texto = DeUtf8(bytes);
    if (texto.find(u'\uFFFD') != std::u16string::npos &&
        bytes.find("\xEF\xBF\xBD") == std::string_view::npos)
        texto = DeWindows1252(bytes);
    // One line: the client separates its parts with line ends.
    std::u16string linha;
    size_t inicio = 0;
    while (inicio <= texto.size()) {
        size_t fim = texto.find(u'\n', inicio);
        if (fim == std::u16string::npos) fim = texto.size();
        std::u16string_view parte = std::u16string_view(texto).substr(inicio, fim - inicio);
        while (!parte.empty() && (parte.back() == u' ' || parte.back() == u'\r'))
            parte.remove_suffix(1);
        if (!parte.empty()) {
            if (!linha.empty()) linha += u' ';
            linha.append(parte);
        }
        inicio = fim + 1;
    }
    return ParaMensagem(linha);
}

std::string SqlParaMensagem(std::u16string_view sql) {
    constexpr size_t kLimite = 400;
    if (sql.size() <= kLimite) return ParaMensagem(sql);
    return ParaMensagem(sql.substr(0, kLimite)) + "...";
}

}  // namespace kavlo::fb
