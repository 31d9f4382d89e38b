// SHA-256 of a file's bytes: how the import journal recognises a return file it has seen.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kavlo {

// 64 lower-case hexadecimal digits.
std::string Sha256(std::string_view bytes);

// The same, taken piece by piece: a file is hashed as it is read, without holding it whole.
class Sha256Incremental {
  public:
    Sha256Incremental();
    ~Sha256Incremental();
    Sha256Incremental(const Sha256Incremental&) = delete;
    Sha256Incremental& operator=(const Sha256Incremental&) = delete;

    void Acrescentar(std::string_view bytes);
    // The hash of everything added; the object then starts again, empty.
    std::string Concluir();

  private:
    struct Estado;
    std::unique_ptr<Estado> estado_;
};

}  // namespace kavlo
