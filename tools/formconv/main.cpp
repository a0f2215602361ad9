// formconv: writes the binary form (with its resource header) of a text form file:
// formconv IN.txt OUT.DFM
#include <cstdio>
#include <fstream>
#include <sstream>

#include "script/Formfile.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: formconv TEXTFORM BINARYFORM\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  try {
    const std::string bytes = WriteFormStream(ParseFormText(text.str()));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
      std::fprintf(stderr, "cannot write %s\n", argv[2]);
      return 1;
    }
  } catch (const EFormFileError& e) {
    std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
    return 1;
  }
  return 0;
}
