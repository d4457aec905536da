// Taking an Arrow C stream out of the PyCapsule a Python object hands over.

#include "main/stream_source.h"

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace {

constexpr const char* kStreamCapsule = "arrow_array_stream";

[[noreturn]] void refuse(PyObject* object, const char* reason) {
  PyErr_Format(PyExc_TypeError, "%.200s object cannot be loaded: %s", Py_TYPE(object)->tp_name, reason);
  throw nb::python_error();
}

}  // namespace

bool StreamSource::speaksArrow(PyObject* object) { return PyObject_HasAttrString(object, "__arrow_c_stream__") != 0; }

StreamSource::StreamSource(PyObject* object) {
  if (!speaksArrow(object)) refuse(object, "it has no __arrow_c_stream__ (the Arrow PyCapsule interface)");
  const nb::object capsule = nb::steal(PyObject_CallMethod(object, "__arrow_c_stream__", nullptr));
  if (!capsule.is_valid()) throw nb::python_error();
  if (!PyCapsule_IsValid(capsule.ptr(), kStreamCapsule)) {
    refuse(object, "its __arrow_c_stream__() did not return an \"arrow_array_stream\" capsule");
  }
  auto* const stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule.ptr(), kStreamCapsule));
  if (stream == nullptr) throw nb::python_error();
  if (stream->release == nullptr) refuse(object, "its Arrow stream was already read");
  // Moved out: the capsule's destructor finds it released and leaves it.
  stream_ = *stream;
  stream->release = nullptr;
}

StreamSource::~StreamSource() {
  if (stream_.release != nullptr) stream_.release(&stream_);
}
