#pragma once
// SHA-256 over OpenSSL's EVP interface, fed piece by piece.
//
//   platform::Sha256 h;
//   h.update(data, size);   // as often as needed
//   std::string hex = h.hex();  // lower-case hex; ends the hash

#include <cstddef>
#include <string>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace fsv::platform {

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(const void* data, size_t size);
    std::string hex();  // ends the hash

  private:
    EVP_MD_CTX* ctx_;
};

}  // namespace fsv::platform
