#include "util/Codificacao.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace kavlo {
namespace {

bool SoAscii(std::string_view bytes) {
    for (unsigned char c : bytes)
        if (c >= 0x80) return false;
    return true;
}

bool SoAscii(std::u16string_view texto) {
    for (char16_t c : texto)
        if (c >= 0x80) return false;
    return true;
}

// Windows-1252 and Latin-1 agree outside 0x80-0x9F: such texts convert byte for code unit.
bool ComoLatin1(std::string_view bytes) {
    for (unsigned char c : bytes)
        if (c >= 0x80 && c <= 0x9F) return false;
    return true;
}

bool ComoLatin1(std::u16string_view texto) {
    for (char16_t c : texto)
        if (c > 0xFF || (c >= 0x80 && c <= 0x9F)) return false;
    return true;
}

#ifndef _WIN32
// One converter per direction and thread: iconv descriptors keep state and are not shareable.
class Conversor {
  public:
    Conversor(const char* para, const char* de) : cd_(iconv_open(para, de)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv sem suporte a ") + de + " -> " + para);
    }
    ~Conversor() { iconv_close(cd_); }
    Conversor(const Conversor&) = delete;
    Conversor& operator=(const Conversor&) = delete;

    // Converts all of `entrada`; at an unconvertible sequence calls `substituir(saida, resto)`,
    // which appends its replacement and returns how many input bytes to skip.
    template <class Substituir>
    std::string Converter(std::string_view entrada, Substituir substituir) {
        std::string saida;
        saida.resize(entrada.size() * 2 + 16);
        char* in = const_cast<char*>(entrada.data());
        size_t inLeft = entrada.size();
        size_t usado = 0;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0) {
            char* out = saida.data() + usado;
            size_t outLeft = saida.size() - usado;
            size_t r = iconv(cd_, &in, &inLeft, &out, &outLeft);
            usado = saida.size() - outLeft;
            if (r != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) {
                saida.resize(saida.size() * 2);
            } else {  // EILSEQ or EINVAL: a sequence the target cannot take, or a cut one
                saida.resize(usado);
                size_t pular = substituir(saida, std::string_view(in, inLeft));
                usado = saida.size();
                saida.resize(usado + inLeft * 2 + 16);
                in += pular;
                inLeft -= pular;
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        saida.resize(usado);
        return saida;
    }

  private:
    iconv_t cd_;
};

std::u16string BytesParaU16(const std::string& bytes) {
    std::u16string r(bytes.size() / 2, u'\0');
    std::memcpy(r.data(), bytes.data(), r.size() * 2);
    return r;
}

std::string_view U16ComoBytes(std::u16string_view texto) {
    return {reinterpret_cast<const char*>(texto.data()), texto.size() * 2};
}

void AnexarU16(std::string& saida, char16_t c) {
    saida.append(reinterpret_cast<const char*>(&c), 2);
}

// Length in bytes of the UTF-16LE character at the start of `resto` (1 or 2 code units).
size_t CaractereUtf16(std::string_view resto) {
    if (resto.size() >= 4) {
        char16_t c;
        std::memcpy(&c, resto.data(), 2);
        char16_t d;
        std::memcpy(&d, resto.data() + 2, 2);
        if (c >= 0xD800 && c <= 0xDBFF && d >= 0xDC00 && d <= 0xDFFF) return 4;
    }
    return resto.size() >= 2 ? 2 : resto.size();
}
#endif

}  // namespace

std::u16string DeWindows1252(std::string_view bytes) {
    if (ComoLatin1(bytes)) {
        std::u16string r(bytes.size(), u'\0');
        for (size_t i = 0; i < bytes.size(); ++i) r[i] = static_cast<unsigned char>(bytes[i]);
        return r;
    }
#ifdef _WIN32
    std::u16string r(bytes.size(), u'\0');
    int n = MultiByteToWideChar(1252, 0, bytes.data(), static_cast<int>(bytes.size()),
                                reinterpret_cast<wchar_t*>(r.data()), static_cast<int>(r.size()));
    r.resize(static_cast<size_t>(n));
    return r;
#else
    thread_local Conversor conv("UTF-16LE", "WINDOWS-1252");
    return BytesParaU16(conv.Converter(bytes, [](std::string& saida, std::string_view resto) {
        // 0x81, 0x8D, 0x8F, 0x90 and 0x9D are undefined in the code page.
        AnexarU16(saida, static_cast<char16_t>(static_cast<unsigned char>(resto[0])));
        return size_t{1};
    }));
#endif
}

std::string ParaWindows1252(std::u16string_view texto) {
    if (ComoLatin1(texto)) {
        std::string r(texto.size(), '\0');
        for (size_t i = 0; i < texto.size(); ++i) r[i] = static_cast<char>(texto[i]);
        return r;
    }
#ifdef _WIN32
    const std::wstring w(texto.begin(), texto.end());
    // Code page 1252 itself, not the machine's ANSI code page, and no best-fit: a character the
    // code page lacks becomes "?" instead of a look-alike.
    std::string r(w.size() * 2, '\0');
    BOOL perdeu = FALSE;
    int n = WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()),
                                r.data(), static_cast<int>(r.size()), "?", &perdeu);
    r.resize(static_cast<size_t>(n));
    return r;
#else
    thread_local Conversor conv("WINDOWS-1252", "UTF-16LE");
    return conv.Converter(U16ComoBytes(texto), [](std::string& saida, std::string_view resto) {
        size_t n = CaractereUtf16(resto);
        if (n == 2) {
            char16_t c;
            std::memcpy(&c, resto.data(), 2);
            // The C1 controls come back to the bytes they were read from.
            if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) {
                saida.push_back(static_cast<char>(c));
                return n;
            }
        }
        // One "?" per code unit: fixed-width fields count code units, so the bytes keep the width.
        saida.append(n / 2, '?');
        return n;
    });
#endif
}

std::u16string DeUtf8(std::string_view bytes) {
    if (SoAscii(bytes)) return std::u16string(bytes.begin(), bytes.end());
#ifdef _WIN32
    std::u16string r(bytes.size(), u'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                reinterpret_cast<wchar_t*>(r.data()), static_cast<int>(r.size()));
    r.resize(static_cast<size_t>(n));
    return r;
#else
    thread_local Conversor conv("UTF-16LE", "UTF-8");
    return BytesParaU16(conv.Converter(bytes, [](std::string& saida, std::string_view) {
        AnexarU16(saida, u'\uFFFD');
        return size_t{1};
    }));
#endif
}

std::string ParaUtf8(std::u16string_view texto) {
    if (SoAscii(texto)) return std::string(texto.begin(), texto.end());
#ifdef _WIN32
    std::string r(texto.size() * 3, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(texto.data()),
                                static_cast<int>(texto.size()), r.data(),
                                static_cast<int>(r.size()), nullptr, nullptr);
    r.resize(static_cast<size_t>(n));
    return r;
#else
    thread_local Conversor conv("UTF-8", "UTF-16LE");
    return conv.Converter(U16ComoBytes(texto), [](std::string& saida, std::string_view resto) {
        saida += "\xEF\xBF\xBD";
        return CaractereUtf16(resto);
    });
#endif
}

std::string ParaMensagem(std::u16string_view texto) {
    std::string r;
    size_t inicio = 0;
    for (size_t i = 0; i <= texto.size(); ++i) {
        if (i < texto.size() && texto[i] >= 0x20 && texto[i] != 0x7F) continue;
        r += ParaUtf8(texto.substr(inicio, i - inicio));
        if (i < texto.size()) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            r += "\\x";
            r += kHex[(texto[i] >> 4) & 0xF];
            r += kHex[texto[i] & 0xF];
        }
        inicio = i + 1;
    }
    return r;
}

std::u16string DeUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string r(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < r.size(); ++i) {
        auto a = static_cast<unsigned char>(bytes[2 * i]);
        auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        r[i] = bigEndian ? static_cast<char16_t>(a << 8 | b) : static_cast<char16_t>(b << 8 | a);
    }
    return r;
}

}  // namespace kavlo
