// Host strings for hosts without the Windows string allocator (the command-line tool, the tests):
// the same layout as an OLE Automation BSTR, a 32-bit byte length before the text and a NUL after.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace kavlo {

inline char16_t* AlocarCadeiaHost(std::u16string_view texto) {
    const auto bytes = static_cast<uint32_t>(texto.size() * sizeof(char16_t));
    auto* bloco =
        static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(char16_t)));
    if (!bloco) throw std::bad_alloc();
    std::memcpy(bloco, &bytes, sizeof bytes);
    std::memcpy(bloco + sizeof bytes, texto.data(), bytes);
    std::memset(bloco + sizeof bytes + bytes, 0, sizeof(char16_t));
    return reinterpret_cast<char16_t*>(bloco + sizeof bytes);
}

inline void LiberarCadeiaHost(char16_t* cadeia) {
    if (cadeia) std::free(reinterpret_cast<unsigned char*>(cadeia) - sizeof(uint32_t));
}

// Owns one host string for the duration of a call.
class CadeiaHost {
  public:
    explicit CadeiaHost(std::u16string_view texto) : cadeia_(AlocarCadeiaHost(texto)) {}
    ~CadeiaHost() { LiberarCadeiaHost(cadeia_); }
    CadeiaHost(const CadeiaHost&) = delete;
    CadeiaHost& operator=(const CadeiaHost&) = delete;
    CadeiaHost(CadeiaHost&& outra) noexcept : cadeia_(outra.cadeia_) { outra.cadeia_ = nullptr; }
    const char16_t* get() const { return cadeia_; }
    operator const char16_t*() const { return cadeia_; }

  private:
    char16_t* cadeia_;
};

}  // namespace kavlo
