#include "production/Digest.h"

#include <zlib.h>

#include <array>
#include <stdexcept>

#if defined(_WIN32)
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on
#else
#include <openssl/evp.h>
#endif

namespace tandra {

namespace {

std::string lowerHex(const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  std::array<unsigned char, 32> digest{};
#if defined(_WIN32)
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
              ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0 &&
              ::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                               static_cast<ULONG>(bytes.size()), 0) >= 0 &&
              ::BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) >= 0;
  if (hash != nullptr) ::BCryptDestroyHash(hash);
  if (algorithm != nullptr) ::BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!done) throw std::runtime_error("SHA-256 could not be computed");
#else
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    throw std::runtime_error("SHA-256 could not be computed");
  }
#endif
  return lowerHex(digest.data(), digest.size());
}

std::string crc32Hex(std::string_view bytes) {
  uLong crc = ::crc32(0L, Z_NULL, 0);
  // zlib takes at most 4 GiB at a time; an image is far smaller, but the loop costs nothing.
  while (!bytes.empty()) {
    const auto chunk = static_cast<uInt>(std::min<std::size_t>(bytes.size(), 1u << 30));
    crc = ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), chunk);
    bytes.remove_prefix(chunk);
  }
  const std::array<unsigned char, 4> big{
      static_cast<unsigned char>(crc >> 24), static_cast<unsigned char>(crc >> 16),
      static_cast<unsigned char>(crc >> 8), static_cast<unsigned char>(crc)};
  return lowerHex(big.data(), big.size());
}

}  // namespace tandra
