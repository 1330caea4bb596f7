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

vellumtag::ReadResult readBytes(const py::bytes &bytes, const vellumtag::ReadOptions &options) {
    char *data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) != 0)
        throw py::error_already_set();
    // bytes never change, and the caller's reference keeps them alive.
    py::gil_scoped_release unlocked;
    return vellumtag::read(
        std::span(reinterpret_cast<const std::byte *>(data), static_cast<std::size_t>(size)),
        options);
}

// A path (str or os.PathLike) is read from the file system; bytes, bytearray, memoryview or any
// other buffer are a file's content.
vellumtag::ReadResult readSource(const py::handle &source, const vellumtag::ReadOptions &options) {
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
        return vellumtag::read(path, options);
    }
    if (PyBytes_Check(object))
        return readBytes(py::reinterpret_borrow<py::bytes>(source), options);
    if (PyObject_CheckBuffer(object) != 0) {
        // Another thread may change a mutable buffer while the lock is released: read a copy.
        PyObject *copy = PyBytes_FromObject(object);
        if (copy == nullptr)
            throw py::error_already_set();
        return readBytes(py::reinterpret_steal<py::bytes>(copy), options);
    }
    throw py::type_error("vellumtag.read() takes a path (str or os.PathLike) or the bytes of a "
                         "file (bytes, bytearray, memoryview), not " +
                         py::str(py::type::of(source).attr("__name__")).cast<std::string>());
}

// The facts as the console tool's JSON "document" object has them, in its order.
py::dict documentDict(const vellumtag::DocumentDetails &details) {
    py::dict document;
    if (details.version)
        document["version"] = py::str(*details.version);
    if (!details.encrypted) {
        document["encryption"] = py::none();
    } else if (details.encryption) {
        py::dict encryption;
        encryption["algorithm"] = py::str(details.encryption->algorithm);
        encryption["revision"] = details.encryption->revision;
        encryption["keyBits"] = details.encryption->keyBits;
        document["encryption"] = encryption;
    }
    if (details.linearized)
        document["linearized"] = *details.linearized;
    if (details.tagged)
        document["tagged"] = *details.tagged;
    if (details.language)
        document["language"] = py::str(*details.language);
    if (details.pageSize)
        document["pageSize"] = py::make_tuple((*details.pageSize)[0], (*details.pageSize)[1]);
    if (details.form)
        document["form"] = py::str(*details.form);
    if (details.attachments)
        document["attachments"] = *details.attachments;
    py::list conformance;
    for (const std::string &claim : details.conformance)
        conformance.append(py::str(claim));
    document["conformance"] = conformance;
    if (details.created)
        document["created"] = py::str(*details.created);
    if (details.modified)
        document["modified"] = py::str(*details.modified);
    if (details.pageCount)
        document["pageCount"] = *details.pageCount;
    return document;
}

// (code, message, values, document, xmp): the values a dict in the library's key order,
// empty on failure; document a dict of the facts or None; xmp a dict of the properties.
py::tuple readTuple(const py::object &source, bool details, bool xmp) {
    const vellumtag::ReadResult result = readSource(source, vellumtag::ReadOptions{details, xmp});
    py::dict values;
    for (const auto &[key, text] : result.values)
        values[py::str(key)] = py::str(text);
    py::object document = py::none();
    if (result.document)
        document = documentDict(*result.document);
    py::dict properties;
    for (const auto &[key, text] : result.xmp)
        properties[py::str(key)] = py::str(text);
    return py::make_tuple(result.code, py::str(result.message), values, document, properties);
}

} // namespace

PYBIND11_MODULE(_vellumtag, module) {
    module.doc() = "The compiled part of vellumtag: use vellumtag.read";
    module.attr("__version__") = vellumtag::kVersion;
    module.def("_read", &readTuple, py::arg("source"), py::arg("details") = false,
               py::arg("xmp") = false,
               "(code, message, values, document, xmp) of a PDF file, given as a path or as its "
               "bytes");
}
