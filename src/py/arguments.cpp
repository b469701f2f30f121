// Argument conversion: the converters, the buffer fast path and the argument-prefix route.
#include "py/arguments.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <type_traits>
#include <vector>

namespace velk::py {

namespace {

// Length of a sequence argument that must hold exactly n items.
void require_sequence_of(PyObject* obj, Py_ssize_t n) {
  if (!PySequence_Check(obj)) raise_downcast(obj, "Sequence");
  Py_ssize_t len = PySequence_Size(obj);
  if (len < 0) throw PyErrorSet{};
  if (len != n)
    raise(PyExc_ValueError, "expected a sequence of length " + std::to_string(n) + " (got " +
                                std::to_string(len) + ")");
}

template <class F>
auto item(PyObject* seq, Py_ssize_t i, F&& convert) {
  Ref value = Ref::steal(PySequence_GetItem(seq, i));
  return convert(value.get());
}

// Three floats of an exact list or tuple of length 3, read without the generic sequence
// protocol; an exact float item is read without a call. False (nothing converted) for any other
// object, which takes the generic path. A list item is held while it converts: its __float__
// may change the list, and the generic path reads each item afresh by index.
bool point3_of_list_or_tuple(PyObject* obj, Point3& p) {
  const bool is_list = PyList_CheckExact(obj);
  if (!is_list && !PyTuple_CheckExact(obj)) return false;
  if (Py_SIZE(obj) != 3) return false;
  PyObject* const* items = PySequence_Fast_ITEMS(obj);
  PyObject *x = items[0], *y = items[1], *z = items[2];
  if (PyFloat_CheckExact(x) && PyFloat_CheckExact(y) && PyFloat_CheckExact(z)) {
    p = {PyFloat_AS_DOUBLE(x), PyFloat_AS_DOUBLE(y), PyFloat_AS_DOUBLE(z)};
    return true;
  }
  if (!is_list) {
    p = {to_float(x), to_float(y), to_float(z)};
    return true;
  }
  double values[3];
  for (Py_ssize_t i = 0; i < 3; ++i) {
    if (i >= PyList_GET_SIZE(obj)) {
      // The list shrank under a conversion: the generic read raises what it raises.
      values[i] = item(obj, i, to_float);
      continue;
    }
    Ref value = Ref::add(PyList_GET_ITEM(obj, i));
    values[i] = to_float(value.get());
  }
  p = {values[0], values[1], values[2]};
  return true;
}

// The shared algorithm of node, cell and index lists: no str, a sequence, reserve from the
// reported length, then convert items in iteration order until the first failure.
template <class T, class F>
std::vector<T> to_list(PyObject* obj, F&& convert) {
  if (PyUnicode_Check(obj)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
  std::vector<T> out;
  if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
    // Items read by index, each held while it converts, the size checked before every step:
    // exactly what iterating a list or tuple does, without the iterator's calls.
    out.reserve(static_cast<std::size_t>(Py_SIZE(obj)));
    for (Py_ssize_t i = 0; i < Py_SIZE(obj); ++i) {
      Ref value = Ref::add(PySequence_Fast_GET_ITEM(obj, i));
      out.push_back(convert(value.get()));
    }
    return out;
  }
  if (!PySequence_Check(obj)) raise_downcast(obj, "Sequence");
  // The reported length only sizes a first reservation, capped at a few megabytes: a
  // sequence may claim more items than it yields, and the list grows as items come.
  constexpr std::size_t kTrustedItems = (std::size_t{4} << 20) / sizeof(T);
  Py_ssize_t len = PySequence_Size(obj);
  if (len < 0)
    PyErr_Clear();
  else
    out.reserve(std::min(static_cast<std::size_t>(len), kTrustedItems));
  Ref iter = Ref::steal(PyObject_GetIter(obj));
  while (PyObject* raw = PyIter_Next(iter.get())) {
    Ref value = Ref::steal(raw);
    out.push_back(convert(value.get()));
  }
  if (PyErr_Occurred()) throw PyErrorSet{};
  return out;
}

// The fast path for contiguous numeric arrays (numpy and other buffer providers): a C-contiguous
// buffer of 8-byte items of the wanted kind with shape (n, width), or (n) when width is 0, is
// copied directly. It gives exactly what the generic path gives; anything else (another dtype,
// shape or layout, or negative integers, which the generic path refuses) returns false and the
// caller takes the generic path. Only sequences of built-in (non-heap) types other than
// memoryview qualify: a class defined in Python may iterate differently from its buffer (a
// numpy matrix yields 1 by 3 rows), and a memoryview of two dimensions cannot be iterated.
enum class ItemKind { Float, Unsigned };

bool format_is(const char* format, ItemKind kind, bool* is_signed) {
  if (!format) return false;
  if (*format == '<' || *format == '=' || *format == '@') ++format;
  if (format[0] == '\0' || format[1] != '\0') return false;
  switch (format[0]) {
    case 'd':
      return kind == ItemKind::Float;
    case 'l':
    case 'q':
      *is_signed = true;
      return kind == ItemKind::Unsigned;
    case 'L':
    case 'Q':
      *is_signed = false;
      return kind == ItemKind::Unsigned;
    default:
      return false;
  }
}

template <class T>
bool read_buffer(PyObject* obj, ItemKind kind, Py_ssize_t width, std::vector<T>& out) {
  if (!PyObject_CheckBuffer(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj) ||
      PyMemoryView_Check(obj) || !PySequence_Check(obj) ||
      PyType_HasFeature(Py_TYPE(obj), Py_TPFLAGS_HEAPTYPE))
    return false;
  Py_buffer view;
  if (PyObject_GetBuffer(obj, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
    PyErr_Clear();
    return false;
  }
  bool is_signed = false;
  const int ndim = width ? 2 : 1;
  bool usable = view.itemsize == 8 && view.ndim == ndim &&
                format_is(view.format, kind, &is_signed) && (!width || view.shape[1] == width);
  if (usable && is_signed) {
    const auto* items = static_cast<const int64_t*>(view.buf);
    for (Py_ssize_t i = 0, n = view.len / 8; i < n && usable; ++i) usable = items[i] >= 0;
  }
  if (usable) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % 8 == 0);
    out.resize(static_cast<std::size_t>(view.shape[0]));
    if (view.len) std::memcpy(out.data(), view.buf, static_cast<std::size_t>(view.len));
  }
  PyBuffer_Release(&view);
  return usable;
}

}  // namespace

void raise_downcast(PyObject* obj, const char* target) {
  Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
  const char* name = PyUnicode_AsUTF8(qualname.get());
  if (!name) throw PyErrorSet{};
  raise(PyExc_TypeError,
        std::string("'") + name + "' object cannot be converted to '" + target + "'");
}

void prefix_argument_error(const char* name) {
  if (!PyErr_Occurred()) return;
  FetchedError fetched;
  fetched.normalize();
  if (fetched.type() != PyExc_TypeError) {
    fetched.restore();
    return;
  }
  if (fetched.traceback()) PyException_SetTraceback(fetched.value(), fetched.traceback());
  Ref cause = Ref::add(fetched.value());
  Ref text = Ref::steal(PyObject_Str(cause.get()));
  Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  Ref error = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  PyException_SetCause(error.get(), cause.release());  // steals the cause
  PyErr_SetObject(PyExc_TypeError, error.get());
}

double to_float(PyObject* obj) {
  if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
  double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) throw PyErrorSet{};
  return value;
}

uint64_t to_unsigned(PyObject* obj) {
  // An exact int is its own index: read it without the protocol call.
  if (PyLong_CheckExact(obj)) {
    unsigned long long value = PyLong_AsUnsignedLongLong(obj);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyErrorSet{};
    return value;
  }
  Ref index = Ref::steal(PyNumber_Index(obj));
  unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyErrorSet{};
  return value;
}

uint32_t to_u32(PyObject* obj) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) throw PyErrorSet{};
  if (value < 0 || value > 4294967295LL)
    raise(PyExc_OverflowError, "out of range integral type conversion attempted");
  return static_cast<uint32_t>(value);
}

Point3 to_point3(PyObject* obj) {
  Point3 p;
  if (point3_of_list_or_tuple(obj, p)) return p;
  require_sequence_of(obj, 3);
  p.x = item(obj, 0, to_float);
  p.y = item(obj, 1, to_float);
  p.z = item(obj, 2, to_float);
  return p;
}

Triangle to_triangle(PyObject* obj) {
  require_sequence_of(obj, 3);
  Triangle t;
  t.a = item(obj, 0, to_unsigned);
  t.b = item(obj, 1, to_unsigned);
  t.c = item(obj, 2, to_unsigned);
  return t;
}

Resolution to_resolution(PyObject* obj) {
  const Triangle t = to_triangle(obj);
  return {t.a, t.b, t.c};
}

NodeList to_node_list(PyObject* obj) {
  NodeList nodes;
  if (read_buffer(obj, ItemKind::Float, 3, nodes)) return nodes;
  return to_list<Point3>(obj, to_point3);
}

CellList to_cell_list(PyObject* obj) {
  CellList cells;
  if (read_buffer(obj, ItemKind::Unsigned, 3, cells)) return cells;
  return to_list<Triangle>(obj, to_triangle);
}

IndexList to_index_list(PyObject* obj) {
  IndexList ids;
  if (read_buffer(obj, ItemKind::Unsigned, 0, ids)) return ids;
  return to_list<uint64_t>(obj, to_unsigned);
}

Matrix4 to_matrix(PyObject* obj) {
  require_sequence_of(obj, 4);
  Matrix4 m{};
  for (Py_ssize_t r = 0; r < 4; ++r) {
    Ref row = Ref::steal(PySequence_GetItem(obj, r));
    require_sequence_of(row.get(), 4);
    for (Py_ssize_t c = 0; c < 4; ++c) m[r][c] = item(row.get(), c, to_float);
  }
  return m;
}

std::pair<double, double> to_float_pair(PyObject* obj) {
  if (!PyTuple_Check(obj)) raise_downcast(obj, "PyTuple");
  Py_ssize_t len = PyTuple_GET_SIZE(obj);
  if (len != 2)
    raise(PyExc_ValueError,
          "expected tuple of length 2, but got tuple of length " + std::to_string(len));
  return {to_float(PyTuple_GET_ITEM(obj, 0)), to_float(PyTuple_GET_ITEM(obj, 1))};
}

std::string to_string(PyObject* obj) {
  if (!PyUnicode_Check(obj)) raise_downcast(obj, "PyString");
  Py_ssize_t len = 0;
  const char* text = PyUnicode_AsUTF8AndSize(obj, &len);
  if (!text) throw PyErrorSet{};
  return std::string(text, static_cast<std::size_t>(len));
}

std::string to_filename(PyObject* obj) {
  if (PyUnicode_Check(obj) || PyBytes_Check(obj)) return to_string(obj);
  // An os.PathLike gives its text through os.fspath; one giving bytes is refused as before.
  if (!PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__fspath__"))
    return to_string(obj);
  Ref path = Ref::steal(PyOS_FSPath(obj));
  if (!PyUnicode_Check(path.get())) raise_downcast(obj, "PyString");
  return to_string(path.get());
}

}  // namespace velk::py
