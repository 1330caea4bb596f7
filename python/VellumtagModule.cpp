// vellumtag._vellumtag, the compiled part of the Python package: _read over the library
// interface, with the interpreter's lock released while a file is read. vellumtag/__init__.py
// turns its result into values or a PdfError.
#include <cstddef>
#include <filesystem>
#include <span>
#include <string>

#include <pybind11/pybind11.h>

#include "Version.h"
#include "vellumtag/vellumtag.h"

namespace py = pybind11;

namespace {

vellumtag::ReadResult readBytes(const py::bytes &bytes) {
    char *data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) != 0)
        throw py::error_already_set();
    // bytes never change, and the caller's reference keeps them alive.
    py::gil_scoped_release unlocked;
    return vellumtag::read(
        std::span(reinterpret_cast<const std::byte *>(data), static_cast<std::size_t>(size)));
}

// A path (str or os.PathLike) is read from the file system; bytes, bytearray, memoryview or any
// other buffer are a file's content.
vellumtag::ReadResult readSource(const py::handle &source) {
    PyObject *object = source.ptr();
    if (PyUnicode_Check(object) ||
        PyObject_HasAttrString(reinterpret_cast<PyObject *>(Py_TYPE(object)), "__fspath__")) {
        // The bytes the file system has, as os.fsencode(os.fspath(source)) gives them.
        PyObject *encoded = nullptr;
        if (PyUnicode_FSConverter(object, &encoded) == 0)
            throw py::error_already_set();
        const auto owner = py::reinterpret_steal<py::bytes>(encoded);
        std::filesystem::path path(std::string(
            PyBytes_AS_STRING(encoded), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded))));
        py::gil_scoped_release unlocked;
        return vellumtag::read(path);
    }
    if (PyBytes_Check(object))
        return readBytes(py::reinterpret_borrow<py::bytes>(source));
    if (PyObject_CheckBuffer(object) != 0) {
        // Another thread may change a mutable buffer while the lock is released: read a copy.
        PyObject *copy = PyBytes_FromObject(object);
        if (copy == nullptr)
            throw py::error_already_set();
        return readBytes(py::reinterpret_steal<py::bytes>(copy));
    }
    throw py::type_error("vellumtag.read() takes a path (str or os.PathLike) or the bytes of a "
                         "file (bytes, bytearray, memoryview), not " +
                         py::str(py::type::of(source).attr("__name__")).cast<std::string>());
}

// (code, message, values): the values a dict in the library's key order, empty on failure.
py::tuple readTuple(const py::object &source) {
    const vellumtag::ReadResult result = readSource(source);
    py::dict values;
    for (const auto &[key, text] : result.values)
        values[py::str(key)] = py::str(text);
    return py::make_tuple(result.code, py::str(result.message), values);
}

} // namespace

PYBIND11_MODULE(_vellumtag, module) {
    module.doc() = "The compiled part of vellumtag: use vellumtag.read";
    module.attr("__version__") = vellumtag::kVersion;
    module.def("_read", &readTuple, py::arg("source"),
               "(code, message, values) of a PDF file, given as a path or as its bytes");
}
