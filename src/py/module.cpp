// The module entry PyInit_velk: creates the module once per process and registers its names in
// their fixed order (velk.pyi's), recording them in __all__; a name in the order that nothing
// declares, or a declaration missing from the order, fails the import with ImportError.
#include <iterator>
#include <vector>

#include "core/interrupt.hpp"
#include "py/ref.hpp"
#include "py/registry.hpp"

namespace velk::py {

namespace {

// The module's names in registration order (also the order of __all__): the __all__ list of the
// stub velk.pyi, extracted by the build (CMakeLists.txt), so the order is stated once and the
// count follows from it. Every declared function and class must be among them exactly once.
constexpr const char* kNames[] = {
#include "module_names.inc"
};

// The state size is 0, not -1: the interpreter then calls PyInit_velk again on a re-import
// (after `del sys.modules["velk"]`) instead of handing back a cached copy, so the once-only
// guard below answers it.
PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "velk", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

bool g_initialised = false;
PyObject* g_module = nullptr;  // the process-wide slot

Ref create_module() {
  if (g_initialised)
    raise(PyExc_ImportError,
          "the velk module may only be initialised once per interpreter process");
  g_initialised = true;
  Ref module = Ref::steal(PyModule_Create(&module_def));
  register_panic_module();
  // Long calls poll for a pending signal (Ctrl-C) between blocks of work; a handler's
  // exception (KeyboardInterrupt) ends the call.
  interrupt::install([] {
    if (PyErr_CheckSignals() < 0) throw PyErrorSet{};
  });
  Ref all = Ref::steal(PyList_New(0));
  check(PyObject_SetAttrString(module.get(), "__all__", all.get()));
  check(PyModule_AddStringConstant(module.get(), "__version__", VELK_VERSION));
  Ref module_name = Ref::steal(PyUnicode_FromString("velk"));
  const std::vector<const ModuleEntry*> declared = module_entries(kNames);
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    const char* name = kNames[i];
    const ModuleEntry* entry = declared[i];
    Ref value =
        entry->type
            ? Ref::add(reinterpret_cast<PyObject*>(entry->type()))
            : Ref::steal(PyCFunction_NewEx(entry->function, module.get(), module_name.get()));
    Ref key = Ref::steal(PyUnicode_FromString(name));
    check(PyList_Append(all.get(), key.get()));
    check(PyObject_SetAttr(module.get(), key.get(), value.get()));
  }
  g_module = Ref::add(module.get()).release();
  return module;
}

}  // namespace

}  // namespace velk::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_velk() {
  return velk::py::guarded({nullptr, "import velk", true},
                           [] { return velk::py::create_module(); });
}
