// Owners for the libcrypto objects the posix signing code makes, each freed
// exactly once by its own function, and the memory BIOs it moves bytes with.
#pragma once

#include <openssl/bio.h>

#include <memory>
#include <string>
#include <string_view>

namespace kit::openssl {

template <auto Free>
struct Freer {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
template <typename T, auto Free>
using Owner = std::unique_ptr<T, Freer<Free>>;
using Bio = Owner<BIO, BIO_free>;

// Reads `bytes` in place: they must outlive the BIO.
inline Bio readingFrom(std::string_view bytes) {
  return Bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

inline Bio writingToMemory() { return Bio(BIO_new(BIO_s_mem())); }

inline std::string contentsOf(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

}  // namespace kit::openssl
