// Display and debug forms of Error and of input/output failures.
#include "core/error.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

IoKind kind_of_errno(int code) {
  switch (code) {
    case ENOENT:
      return IoKind::NotFound;
    case EPERM:
    case EACCES:
      return IoKind::PermissionDenied;
    case ECONNREFUSED:
      return IoKind::ConnectionRefused;
    case ECONNRESET:
      return IoKind::ConnectionReset;
    case EEXIST:
      return IoKind::AlreadyExists;
    case EAGAIN:
      return IoKind::WouldBlock;
    case ENOTDIR:
      return IoKind::NotADirectory;
    case EISDIR:
      return IoKind::IsADirectory;
    case ENOTEMPTY:
      return IoKind::DirectoryNotEmpty;
    case EROFS:
      return IoKind::ReadOnlyFilesystem;
    case ENOSPC:
      return IoKind::StorageFull;
    case ESPIPE:
      return IoKind::NotSeekable;
    case EFBIG:
      return IoKind::FileTooLarge;
    case EBUSY:
      return IoKind::ResourceBusy;
    case ETXTBSY:
      return IoKind::ExecutableFileBusy;
    case EDEADLK:
      return IoKind::Deadlock;
    case EXDEV:
      return IoKind::CrossesDevices;
    case EMLINK:
      return IoKind::TooManyLinks;
    case ENAMETOOLONG:
      return IoKind::InvalidFilename;
    case E2BIG:
      return IoKind::ArgumentListTooLong;
    case EINTR:
      return IoKind::Interrupted;
    case ENOSYS:
      return IoKind::Unsupported;
    case ENOMEM:
      return IoKind::OutOfMemory;
    case EPIPE:
      return IoKind::BrokenPipe;
    case ETIMEDOUT:
      return IoKind::TimedOut;
    case EINVAL:
      return IoKind::InvalidInput;
    default:
      return IoKind::Uncategorized;
  }
}

std::string os_text(int code) {
  char buffer[256];
  // The GNU variant returns a pointer that may or may not be the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("Unknown error ") + std::to_string(code);
}

const char* variant_prefix(Error::Variant v) {
  switch (v) {
    case Error::Variant::Custom:
      return "\U0001F534 Error: ";
    case Error::Variant::MeshGeneration:
      return "\U0001F534 Mesh generation error: ";
    case Error::Variant::Deformation:
      return "\U0001F534 Deformation error: ";
    case Error::Variant::FileSystem:
      return "\U0001F534 IO error: ";
  }
  return "";
}

const char* variant_name(Error::Variant v) {
  switch (v) {
    case Error::Variant::Custom:
      return "Custom";
    case Error::Variant::MeshGeneration:
      return "MeshGeneration";
    case Error::Variant::Deformation:
      return "Deformation";
    case Error::Variant::FileSystem:
      return "FileSystem";
  }
  return "";
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

std::string debug_quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char ch : text) {
    switch (ch) {
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
      case '\0':
        out += "\\0";
        break;
      default:
        if (ch < 0x20 || ch == 0x7f) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", ch);
          out += buf;
        } else {
          out += static_cast<char>(ch);
        }
    }
  }
  out += '"';
  return out;
}

std::string Error::display() const {
  std::string out = variant_prefix(variant_);
  out += variant_ == Variant::FileSystem ? io_display(io_) : message_;
  return out;
}

std::string Error::debug() const {
  std::string out = variant_name(variant_);
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
