// Arguments of the module's methods: matching positional and keyword
// arguments to the parameters, and converting each by its kind.
//
// Every converter returns false with a Python exception set. A TypeError from
// the conversion is raised instead as "argument '{name}': {text}" with the
// original as its cause; other errors (OverflowError, UnicodeEncodeError) are
// raised unchanged.
#pragma once

#include "karvane_wallet_mpc/py/ref.hpp"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace karvane::py {

// Fills out[0..names.size()) with borrowed references. `callable` names the
// callable in the interpreter's usual argument-count errors ("PyEcdsa.keygen").
bool match_args(const char* callable, std::initializer_list<const char*> names, PyObject* args, PyObject* kwargs,
                PyObject** out);

bool to_text(PyObject* o, const char* name, std::string& out);
bool to_u16(PyObject* o, const char* name, std::uint16_t& out);
bool to_byte_list(PyObject* o, const char* name, std::vector<std::uint8_t>& out);
bool to_text_list(PyObject* o, const char* name, std::vector<std::string>& out);
bool to_u32_list(PyObject* o, const char* name, std::vector<std::uint32_t>& out);
// True or False (a NumPy boolean scalar by its truth value); anything else,
// 0 and 1 included, is a type refusal ("PyBool").
bool to_bool(PyObject* o, const char* name, bool& out);
// A `bytes` object only; the view is valid while `o` lives.
bool to_bytes_view(PyObject* o, const char* name, const char*& data, std::size_t& len);
// An instance of `type` (or a subclass); `kind` names it in the refusal.
bool check_instance(PyObject* o, const char* name, PyTypeObject* type, const char* kind);

}  // namespace karvane::py
