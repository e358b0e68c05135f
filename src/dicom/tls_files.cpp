#include "dicom/tls_files.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace morvanta::dicom {

namespace {

// Far beyond any PEM file of certificates or lists a site keeps; a larger
// file is not one, and is not read into memory.
constexpr off_t kLargestFile = 16 * 1024 * 1024;

[[noreturn]] void Refuse(const char* key, const std::string& file, const std::string& why) {
  throw TransportFailure{ErrorCode::TlsSetupFailed, TlsFileText(key, file, why)};
}

// OpenSSL's reason for the last failure on this thread; clears the queue.
std::string TakeReason() {
  const char* text = ERR_reason_error_string(ERR_peek_last_error());
  ERR_clear_error();
  return text != nullptr ? text : "not in PEM form";
}

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder, not a file";
  if (S_ISFIFO(mode)) return "a named pipe, not a file";
  if (S_ISSOCK(mode)) return "a socket, not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a file";
  return "not a regular file";
}

struct Fd {
  int fd;
  ~Fd() { ::close(fd); }
};

// The file's bytes. O_NONBLOCK: opening a named pipe without a writer would
// wait for one; with it the open returns at once and fstat shows the pipe.
// `secret`: the file is a private key, refused when other users may read it
// (as OpenSSH refuses such a key; the station's group may, it runs the
// program).
std::string ReadTlsFile(const char* key, const std::string& file, bool secret) {
  if (file.empty()) Refuse(key, file, "no file given");
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) Refuse(key, file, std::strerror(errno));
  const Fd guard{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) Refuse(key, file, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) Refuse(key, file, KindOf(st.st_mode));
  if (secret && (st.st_mode & S_IRWXO) != 0)
    throw TransportFailure{ErrorCode::TlsSetupFailed, TlsKeyExposedText(file, st.st_mode)};
  if (st.st_size > kLargestFile) Refuse(key, file, "far too large for a PEM file");
  std::string bytes;
  char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      Refuse(key, file, std::strerror(errno));
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
    if (static_cast<off_t>(bytes.size()) > kLargestFile) Refuse(key, file, "far too large for a PEM file");
  }
  return bytes;
}

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

Bio MemoryBio(const std::string& bytes) {
  return Bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

// Whatever OpenSSL would ask a passphrase for is refused at once; `asked`
// (a bool*, when given) notes that it would have.
int NoPassphrase(char* /*buffer*/, int /*size*/, int /*rwflag*/, void* asked) {
  if (asked != nullptr) *static_cast<bool*>(asked) = true;
  return -1;
}

struct InfoFree {
  void operator()(STACK_OF(X509_INFO) * infos) const { sk_X509_INFO_pop_free(infos, X509_INFO_free); }
};

// The certificates (`certificates`) or lists of a PEM file into `store`;
// how many there were.
int AddToStore(X509_STORE* store, const std::string& bytes, bool certificates) {
  const Bio bio = MemoryBio(bytes);
  std::unique_ptr<STACK_OF(X509_INFO), InfoFree> infos(
      bio ? PEM_X509_INFO_read_bio(bio.get(), nullptr, NoPassphrase, nullptr) : nullptr);
  if (!infos) return 0;
  int added = 0;
  for (int i = 0; i < sk_X509_INFO_num(infos.get()); ++i) {
    const X509_INFO* info = sk_X509_INFO_value(infos.get(), i);
    if (certificates && info->x509 != nullptr && X509_STORE_add_cert(store, info->x509) == 1) ++added;
    if (!certificates && info->crl != nullptr && X509_STORE_add_crl(store, info->crl) == 1) ++added;
  }
  return added;
}

}  // namespace

void LoadTrustedAuthorities(SSL_CTX* ctx, const std::string& file) {
  const std::string bytes = ReadTlsFile("CACertificates", file, false);
  ERR_clear_error();
  if (AddToStore(SSL_CTX_get_cert_store(ctx), bytes, true) == 0)
    Refuse("CACertificates", file, "no certificate in PEM form: " + TakeReason());
  ERR_clear_error();
}

void LoadRevocationLists(SSL_CTX* ctx, const std::string& file) {
  const std::string bytes = ReadTlsFile("CRL", file, false);
  ERR_clear_error();
  if (AddToStore(SSL_CTX_get_cert_store(ctx), bytes, false) == 0)
    Refuse("CRL", file, "no certificate revocation list in PEM form: " + TakeReason());
  ERR_clear_error();
  // Every certificate of the chain, not only the archive's own: an
  // intermediate authority revoked is as bad as the archive's certificate.
  X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(ctx), X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
}

void LoadStationIdentity(SSL_CTX* ctx, const std::string& certificate, const std::string& privateKey) {
  const std::string certificateBytes = ReadTlsFile("Certificate", certificate, false);
  const std::string keyBytes = ReadTlsFile("PrivateKey", privateKey, true);
  ERR_clear_error();
  // Straight into OpenSSL: DCMTK's setCertificateFile keeps a reference to
  // the certificate's key on every call (3.6.7), which a long-running
  // station would pile up.
  const Bio certificateBio = MemoryBio(certificateBytes);
  X509* leaf = certificateBio ? PEM_read_bio_X509_AUX(certificateBio.get(), nullptr, NoPassphrase, nullptr) : nullptr;
  if (leaf == nullptr) Refuse("Certificate", certificate, "no certificate in PEM form: " + TakeReason());
  const int used = SSL_CTX_use_certificate(ctx, leaf);
  X509_free(leaf);
  if (used <= 0) Refuse("Certificate", certificate, "not usable: " + TakeReason());
  // The authorities between it and the archive's trusted one, as the file
  // lists them after it.
  SSL_CTX_clear_chain_certs(ctx);
  while (X509* link = PEM_read_bio_X509(certificateBio.get(), nullptr, NoPassphrase, nullptr)) {
    if (SSL_CTX_add0_chain_cert(ctx, link) != 1) {
      X509_free(link);
      Refuse("Certificate", certificate, "its chain is not usable: " + TakeReason());
    }
  }
  ERR_clear_error();

  bool asked = false;
  const Bio keyBio = MemoryBio(keyBytes);
  EVP_PKEY* key = keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, NoPassphrase, &asked) : nullptr;
  if (key == nullptr) {
    const std::string reason = TakeReason();
    if (asked || keyBytes.find("ENCRYPTED") != std::string::npos)
      Refuse("PrivateKey", privateKey,
             "it is protected by a passphrase, which the program never asks for; store it without one, "
             "readable by the station only");
    Refuse("PrivateKey", privateKey, "no unencrypted private key in PEM form: " + reason);
  }
  const int keyUsed = SSL_CTX_use_PrivateKey(ctx, key);
  EVP_PKEY_free(key);
  if (keyUsed <= 0) {
    const unsigned long error = ERR_peek_last_error();
    const std::string reason = TakeReason();
    if (ERR_GET_REASON(error) == X509_R_KEY_VALUES_MISMATCH)
      throw TransportFailure{ErrorCode::TlsSetupFailed, TlsKeyMismatchText(certificate, privateKey)};
    Refuse("PrivateKey", privateKey, "not usable: " + reason);
  }
  if (SSL_CTX_check_private_key(ctx) != 1) {
    ERR_clear_error();
    throw TransportFailure{ErrorCode::TlsSetupFailed, TlsKeyMismatchText(certificate, privateKey)};
  }
  ERR_clear_error();
}

}  // namespace morvanta::dicom
