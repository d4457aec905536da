#pragma once

#include <Python.h>

#include <memory>
#include <optional>
#include <vector>

#include "main/stream_source.h"
#include "parser/parameter_value.h"

// The Arrow streams taken from a command's parameters, owned for the
// length of the command; each releases its stream unless the command read it.
using StreamSources = std::vector<std::unique_ptr<StreamSource>>;

// The values of a command's `params` argument, converted from Python into
// ParameterValues before the command runs (converting may run Python code,
// such as a path object's __fspath__). None for the argument means no
// parameters were given: the command's "?" are then plain text. Otherwise
// it must be a sequence (not a str, bytes or mapping) of values, each one of
//
//   None                           -> Null
//   bool                           -> bool
//   int (or an object with __index__), within 64 bits -> int64_t
//   float                          -> double
//   str                            -> its UTF-8 text (lone surrogates, as
//                                     os.fsdecode leaves them, as their bytes)
//   datetime.date, not datetime    -> Date
//   os.PathLike                    -> the text or bytes of its path
//   any other object with __arrow_c_stream__ -> Stream, its stream taken
//                                     into `streams`
//
// With `streams` null an object with __arrow_c_stream__ raises TypeError, as
// anything else raises TypeError naming the parameter (from 1); an int
// beyond 64 bits raises OverflowError and text holding a NUL character
// ValueError, each thrown as nanobind::python_error.
std::optional<Parameters> convertParameters(PyObject* params, StreamSources* streams = nullptr);
