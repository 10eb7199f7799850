// The Windows-1251 code page for the XML parser of the Windows build, which has
// neither iconv nor ICU: an envelope that declares encoding="windows-1251" (or
// "cp1251") is decoded with the system's own table, as the Linux build decodes it
// through ICU. Registered before main; soap/CMakeLists.txt makes every program
// that links the SOAP layer keep this file.
#include <libxml/encoding.h>

#include <string>
#include <string_view>

#include "runtime/Text.h"

namespace {

// The parser hands over a chunk of input and room for output; both counts come
// back as what was consumed and produced. A character is never split. The one
// byte the code page leaves undefined, 0x98, is an input error, as the Linux
// build's converter has it: the envelope is refused, not read with U+FFFD.
int Cp1251ToUtf8Chunk(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
  int produced = 0, consumed = 0;
  std::string utf8;
  while (consumed < *inlen) {
    if (in[consumed] == 0x98) {
      *outlen = produced;
      *inlen = consumed;
      return -2;
    }
    const char byte = static_cast<char>(in[consumed]);
    utf8.clear();
    AppendCp1251ToUtf8(utf8, std::string_view(&byte, 1));
    if (produced + static_cast<int>(utf8.size()) > *outlen) break;
    for (char c : utf8) out[produced++] = static_cast<unsigned char>(c);
    ++consumed;
  }
  *outlen = produced;
  *inlen = consumed;
  return produced;
}

bool RegisterCp1251() {
  for (const char* name : {"windows-1251", "cp1251"})
    xmlNewCharEncodingHandler(name, Cp1251ToUtf8Chunk, nullptr);
  return true;
}

}  // namespace

// Referenced by the linker option of soap/CMakeLists.txt, so that the archive
// member with the registration is always linked in.
extern "C" const bool dorvana_cp1251_encoding = RegisterCp1251();
