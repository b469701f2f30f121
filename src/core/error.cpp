// Display and debug forms of Error and of input/output failures.
#include "core/error.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace velk {

namespace {

struct KindInfo {
  IoKind kind;
  const char* name;
  const char* description;
};

constexpr KindInfo kKinds[] = {
    {IoKind::NotFound, "NotFound", "entity not found"},
    {IoKind::PermissionDenied, "PermissionDenied", "permission denied"},
    {IoKind::ConnectionRefused, "ConnectionRefused", "connection refused"},
    {IoKind::ConnectionReset, "ConnectionReset", "connection reset"},
    {IoKind::AlreadyExists, "AlreadyExists", "entity already exists"},
    {IoKind::WouldBlock, "WouldBlock", "operation would block"},
    {IoKind::NotADirectory, "NotADirectory", "not a directory"},
    {IoKind::IsADirectory, "IsADirectory", "is a directory"},
    {IoKind::DirectoryNotEmpty, "DirectoryNotEmpty", "directory not empty"},
    {IoKind::ReadOnlyFilesystem, "ReadOnlyFilesystem", "read-only filesystem or storage medium"},
    {IoKind::StorageFull, "StorageFull", "no storage space"},
    {IoKind::NotSeekable, "NotSeekable", "seek on unseekable file"},
    {IoKind::FileTooLarge, "FileTooLarge", "file too large"},
    {IoKind::FilesystemLoop, "FilesystemLoop",
     "filesystem loop or indirection limit (e.g. symlink loop)"},
    {IoKind::StaleNetworkFileHandle, "StaleNetworkFileHandle", "stale network file handle"},
    {IoKind::FilesystemQuotaExceeded, "FilesystemQuotaExceeded", "filesystem quota exceeded"},
    {IoKind::NetworkDown, "NetworkDown", "network down"},
    {IoKind::NetworkUnreachable, "NetworkUnreachable", "network unreachable"},
    {IoKind::HostUnreachable, "HostUnreachable", "host unreachable"},
    {IoKind::AddrInUse, "AddrInUse", "address in use"},
    {IoKind::AddrNotAvailable, "AddrNotAvailable", "address not available"},
    {IoKind::ConnectionAborted, "ConnectionAborted", "connection aborted"},
    {IoKind::NotConnected, "NotConnected", "not connected"},
    {IoKind::InProgress, "InProgress", "in progress"},
    {IoKind::ResourceBusy, "ResourceBusy", "resource busy"},
    {IoKind::ExecutableFileBusy, "ExecutableFileBusy", "executable file busy"},
    {IoKind::Deadlock, "Deadlock", "deadlock"},
    {IoKind::CrossesDevices, "CrossesDevices", "cross-device link or rename"},
    {IoKind::TooManyLinks, "TooManyLinks", "too many links"},
    {IoKind::InvalidFilename, "InvalidFilename", "invalid filename"},
    {IoKind::ArgumentListTooLong, "ArgumentListTooLong", "argument list too long"},
    {IoKind::Interrupted, "Interrupted", "operation interrupted"},
    {IoKind::Unsupported, "Unsupported", "unsupported"},
    {IoKind::OutOfMemory, "OutOfMemory", "out of memory"},
    {IoKind::BrokenPipe, "BrokenPipe", "broken pipe"},
    {IoKind::TimedOut, "TimedOut", "timed out"},
    {IoKind::InvalidInput, "InvalidInput", "invalid input parameter"},
    {IoKind::InvalidData, "InvalidData", "invalid data"},
    {IoKind::UnexpectedEof, "UnexpectedEof", "unexpected end of file"},
    {IoKind::WriteZero, "WriteZero", "write zero"},
    {IoKind::Other, "Other", "other error"},
    {IoKind::Uncategorized, "Uncategorized", "uncategorized error"},
};

const KindInfo& info(IoKind kind) {
  for (const auto& k : kKinds)
    if (k.kind == kind) return k;
  return kKinds[sizeof(kKinds) / sizeof(kKinds[0]) - 1];
}

// Operating-system error numbers and their kinds; numbers not listed are Uncategorized.
constexpr std::pair<int, IoKind> kErrnoKinds[] = {
    {ENOENT, IoKind::NotFound},
    {EPERM, IoKind::PermissionDenied},
    {EACCES, IoKind::PermissionDenied},
    {ECONNREFUSED, IoKind::ConnectionRefused},
    {ECONNRESET, IoKind::ConnectionReset},
    {EEXIST, IoKind::AlreadyExists},
    {EAGAIN, IoKind::WouldBlock},
    {ENOTDIR, IoKind::NotADirectory},
    {EISDIR, IoKind::IsADirectory},
    {ENOTEMPTY, IoKind::DirectoryNotEmpty},
    {EROFS, IoKind::ReadOnlyFilesystem},
    {ENOSPC, IoKind::StorageFull},
    {ESPIPE, IoKind::NotSeekable},
    {EFBIG, IoKind::FileTooLarge},
    {ELOOP, IoKind::FilesystemLoop},
    {ESTALE, IoKind::StaleNetworkFileHandle},
    {EDQUOT, IoKind::FilesystemQuotaExceeded},
    {ENETDOWN, IoKind::NetworkDown},
    {ENETUNREACH, IoKind::NetworkUnreachable},
    {EHOSTUNREACH, IoKind::HostUnreachable},
    {EADDRINUSE, IoKind::AddrInUse},
    {EADDRNOTAVAIL, IoKind::AddrNotAvailable},
    {ECONNABORTED, IoKind::ConnectionAborted},
    {ENOTCONN, IoKind::NotConnected},
    {EINPROGRESS, IoKind::InProgress},
    {EBUSY, IoKind::ResourceBusy},
    {ETXTBSY, IoKind::ExecutableFileBusy},
    {EDEADLK, IoKind::Deadlock},
    {EXDEV, IoKind::CrossesDevices},
    {EMLINK, IoKind::TooManyLinks},
    {ENAMETOOLONG, IoKind::InvalidFilename},
    {E2BIG, IoKind::ArgumentListTooLong},
    {EINTR, IoKind::Interrupted},
    {ENOSYS, IoKind::Unsupported},
    {ENOMEM, IoKind::OutOfMemory},
    {EPIPE, IoKind::BrokenPipe},
    {ETIMEDOUT, IoKind::TimedOut},
    {EINVAL, IoKind::InvalidInput},
};

IoKind kind_of_errno(int code) {
  for (const auto& [number, kind] : kErrnoKinds)
    if (number == code) return kind;
  return IoKind::Uncategorized;
}

std::string os_text(int code) {
  char buffer[256];
  // The GNU variant returns a pointer that may or may not be the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("Unknown error ") + std::to_string(code);
}

// The debug name and the display prefix of each variant.
struct VariantText {
  const char* name;
  const char* prefix;
};

VariantText variant_text(Error::Variant v) {
  switch (v) {
    case Error::Variant::Custom:
      return {"Custom", "\U0001F534 Error: "};
    case Error::Variant::MeshGeneration:
      return {"MeshGeneration", "\U0001F534 Mesh generation error: "};
    case Error::Variant::Deformation:
      return {"Deformation", "\U0001F534 Deformation error: "};
    case Error::Variant::FileSystem:
      return {"FileSystem", "\U0001F534 IO error: "};
  }
  return {"", ""};
}

}  // namespace

IoFailure IoFailure::from_os(int code) {
  IoFailure f;
  f.os_code = code;
  f.kind = kind_of_errno(code);
  return f;
}

IoFailure IoFailure::described(IoKind kind, std::string message) {
  IoFailure f;
  f.kind = kind;
  f.message = std::move(message);
  return f;
}

Error Error::file_system(IoFailure failure) {
  Error e(Variant::FileSystem, {});
  e.io_ = std::move(failure);
  return e;
}

Error Error::from_errno() {
  return file_system(IoFailure::from_os(errno));
}

const char* io_kind_name(IoKind kind) {
  return info(kind).name;
}
const char* io_kind_description(IoKind kind) {
  return info(kind).description;
}

std::string io_display(const IoFailure& f) {
  if (f.is_os()) return os_text(f.os_code) + " (os error " + std::to_string(f.os_code) + ")";
  return f.message.empty() ? std::string(io_kind_description(f.kind)) : f.message;
}

namespace {

// Code points a debug form shows as \u{...}: control characters and invisible format
// characters (soft hyphen, zero-width and direction marks, line and paragraph separators,
// byte-order mark).
bool invisible(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) || cp == 0xad || cp == 0x61c || cp == 0x180e ||
         (cp >= 0x200b && cp <= 0x200f) || (cp >= 0x2028 && cp <= 0x202e) ||
         (cp >= 0x2060 && cp <= 0x206f) || cp == 0xfeff || (cp >= 0xfff9 && cp <= 0xfffb);
}

// Length of the UTF-8 sequence starting at text[i] and its code point; a byte that starts no
// valid sequence counts as one character of its own value.
std::size_t decode(const std::string& text, std::size_t i, uint32_t* cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  const std::size_t len = lead < 0x80    ? 1
                          : lead >= 0xf0 ? 4
                          : lead >= 0xe0 ? 3
                          : lead >= 0xc0 ? 2
                                         : 1;
  if (len == 1 || i + len > text.size()) {
    *cp = lead;
    return 1;
  }
  uint32_t value = lead & (0x7f >> len);
  for (std::size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) {
      *cp = lead;
      return 1;
    }
    value = (value << 6) | (byte(i + k) & 0x3f);
  }
  *cp = value;
  return len;
}

}  // namespace

std::string debug_quote(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const std::size_t len = decode(text, i, &cp);
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case 0:
        out += "\\0";
        break;
      default:
        if (invisible(cp)) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
          out += buf;
        } else {
          out.append(text, i, len);
        }
    }
    i += len;
  }
  out += '"';
  return out;
}

std::string Error::display() const {
  std::string out = variant_text(variant_).prefix;
  out += variant_ == Variant::FileSystem ? io_display(io_) : message_;
  return out;
}

std::string Error::debug() const {
  std::string out = variant_text(variant_).name;
  out += '(';
  if (variant_ != Variant::FileSystem) {
    out += debug_quote(message_);
  } else if (io_.is_os()) {
    out += "Os { code: " + std::to_string(io_.os_code) + ", kind: " + io_kind_name(io_.kind) +
           ", message: " + debug_quote(os_text(io_.os_code)) + " }";
  } else if (io_.message.empty()) {
    out += "Kind(" + std::string(io_kind_name(io_.kind)) + ")";
  } else {
    out += "Custom { kind: " + std::string(io_kind_name(io_.kind)) +
           ", error: " + debug_quote(io_.message) + " }";
  }
  out += ')';
  return out;
}

}  // namespace velk
