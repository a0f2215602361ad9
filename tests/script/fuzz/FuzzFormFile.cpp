// Fuzz target of the form-file reader: any bytes, text form or binary stream, must read into a tree or
// fail with a form-file error, never crash or read outside the input. A tree that was read writes back
// as a binary stream that reads again into a tree writing the very same bytes (nothing is lost or
// changed on the way through the binary form).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "script/Formfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TFormNode tree;
  try {
    tree = ReadFormFile(bytes);
  } catch (const EFormFileError&) {
    return 0;
  }
  std::string first;
  try {
    first = WriteFormStream(tree);
  } catch (const EFormFileError&) {
    return 0;  // a value the binary form cannot hold is refused, which is fine
  }
  const std::string second = WriteFormStream(ReadFormStream(first));  // must not throw
  if (second != first) {
    std::fprintf(stderr, "form written, read and written again differs (%zu vs %zu bytes)\n", first.size(),
                 second.size());
    std::abort();
  }
  return 0;
}
