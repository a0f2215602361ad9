// Exception classes of the script engine: compile errors, run-time errors and value-type errors.
// The run loop adds the script line only to ERunTimeError; the others pass through unchanged.
#pragma once
#include <stdexcept>
#include <string>

// Base of every error the engine raises on bad script input.
class EScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised by the compiler ("Syntax error line %s: %s") and by the image reader.
class ECompilerError : public EScriptError {
 public:
  using EScriptError::EScriptError;
};

// Raised by the interpreter and by host routines for script-level errors.
class ERunTimeError : public EScriptError {
 public:
  using EScriptError::EScriptError;
};

// The value type's own errors (invalid operation, failed conversion, overflow).
class EVariantError : public EScriptError {
 public:
  using EScriptError::EScriptError;
};
