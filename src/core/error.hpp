// Error: the one failure value of core operations, with its display and debug forms.
#pragma once

#include <expected>
#include <string>

namespace velk {

// Kind of an input/output failure, named as the debug form prints it.
enum class IoKind {
  NotFound,
  PermissionDenied,
  ConnectionRefused,
  ConnectionReset,
  AlreadyExists,
  WouldBlock,
  NotADirectory,
  IsADirectory,
  DirectoryNotEmpty,
  ReadOnlyFilesystem,
  StorageFull,
  NotSeekable,
  FileTooLarge,
  FilesystemLoop,
  StaleNetworkFileHandle,
  FilesystemQuotaExceeded,
  NetworkDown,
  NetworkUnreachable,
  HostUnreachable,
  AddrInUse,
  AddrNotAvailable,
  ConnectionAborted,
  NotConnected,
  InProgress,
  ResourceBusy,
  ExecutableFileBusy,
  Deadlock,
  CrossesDevices,
  TooManyLinks,
  InvalidFilename,
  ArgumentListTooLong,
  Interrupted,
  Unsupported,
  OutOfMemory,
  BrokenPipe,
  TimedOut,
  InvalidInput,
  InvalidData,
  UnexpectedEof,
  WriteZero,
  Other,
  Uncategorized,
};

// An input/output failure: either an operating-system error number, or a kind with a fixed
// message that the program describes itself.
struct IoFailure {
  int os_code = 0;  // non-zero for an operating-system failure
  IoKind kind = IoKind::Other;
  std::string message;

  static IoFailure from_os(int code);
  static IoFailure described(IoKind kind, std::string message);
  bool is_os() const { return os_code != 0; }
};

class Error {
 public:
  enum class Variant { Custom, MeshGeneration, Deformation, FileSystem };

  static Error custom(std::string message) { return {Variant::Custom, std::move(message)}; }
  static Error mesh_generation(std::string message) {
    return {Variant::MeshGeneration, std::move(message)};
  }
  static Error deformation(std::string message) {
    return {Variant::Deformation, std::move(message)};
  }
  static Error file_system(IoFailure failure);
  // The FileSystem error for the current value of errno.
  static Error from_errno();

  Variant variant() const { return variant_; }
  const std::string& message() const { return message_; }
  const IoFailure& io() const { return io_; }

  // The text a user sees: the variant's prefix followed by the carried text.
  std::string display() const;
  // Variant name and carried value, as internal-failure texts show it.
  std::string debug() const;

 private:
  Error(Variant v, std::string m) : variant_(v), message_(std::move(m)) {}
  Variant variant_;
  std::string message_;
  IoFailure io_;
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

inline std::unexpected<Error> fail_with(Error e) {
  return std::unexpected<Error>(std::move(e));
}

// Text of an input/output failure as the display form shows it.
std::string io_display(const IoFailure& failure);
// Name of a kind ("NotFound") and its standard description ("entity not found").
const char* io_kind_name(IoKind kind);
const char* io_kind_description(IoKind kind);
// A double-quoted text with backslash escapes, as debug forms write messages.
std::string debug_quote(const std::string& text);

}  // namespace velk
